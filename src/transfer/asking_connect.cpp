#include "transfer/asking_connect.h"

#include "base/scope_exit.h"
#include "log/silent_stop.h"
#include "transfer/transfer_engine.h"

#include <optional>

namespace taskhaul {

namespace {

// Shows a box the engine left; false for a question, which is the caller's.
bool showBox(MessageBoxes& boxes, const ConnectNotice& notice)
{
    switch (notice.kind) {
    case ConnectNotice::Kind::Information:
        boxes.information(notice.caption, notice.text);
        return true;
    case ConnectNotice::Kind::Warning:
        boxes.warning(notice.caption, notice.text);
        return true;
    case ConnectNotice::Kind::TrustQuestion:
        break;
    }
    return false;
}

} // namespace

void showingTransfer(TransferEngine& engine, MessageBoxes& boxes, const std::function<void()>& transfer)
{
    try {
        transfer();
    } catch (const SilentStop&) {
        if (const std::optional<ConnectNotice> notice = engine.takeNotice())
            showBox(boxes, *notice);
        throw;
    }
    if (const std::optional<ConnectNotice> notice = engine.takeNotice())
        showBox(boxes, *notice);
}

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
        if (showBox(boxes, *notice))
            throw SilentStop();
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
    }
}

} // namespace taskhaul
