#include "transfer/asking_connect.h"

#include "base/scope_exit.h"
#include "log/silent_stop.h"
#include "transfer/transfer_engine.h"

#include <optional>

namespace taskhaul {

void askingConnect(TransferEngine& engine, MessageBoxes& boxes, const std::function<void()>& connect)
{
    for (;;) {
        std::optional<ConnectNotice> notice;
        try {
            connect();
            return;
        } catch (const SilentStop&) {
            notice = engine.takeNotice();
            if (!notice)
                throw;
        }
        switch (notice->kind) {
        case ConnectNotice::Kind::Information:
            boxes.information(notice->caption, notice->text);
            throw SilentStop();
        case ConnectNotice::Kind::Warning:
            boxes.warning(notice->caption, notice->text);
            throw SilentStop();
        case ConnectNotice::Kind::TrustQuestion: {
            MessageBoxes::Answer answer = MessageBoxes::Answer::No;
            {
                // The connect is not over while the question is on screen.
                engine.setAnswerAwaited(true);
                base::ScopeExit awaited { [&] { engine.setAnswerAwaited(false); } };
                answer = boxes.confirmDefaultNo(notice->caption, notice->text);
            }
            if (answer != MessageBoxes::Answer::Yes)
                engine.declineCertificate();
            engine.trustCertificate(notice->fingerprint);
            break;
        }
        }
    }
}

} // namespace taskhaul
