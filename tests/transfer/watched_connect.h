#pragma once

#include "base/scope_exit.h"
#include "ftp/ftp_client.h"
#include "gui/recording_message_boxes.h"
#include "transfer/asking_connect.h"
#include "transfer/transfer_engine.h"

#include <gtest/gtest.h>

#include <functional>

namespace taskhaul::test {

// Runs a user's connect as the window does (askingConnect) and fails the test
// when a box opens while `connect` is still running or the client waits for the
// server.
inline void watchedConnect(TransferEngine& engine, const ftp::TFtpClient& client,
    RecordingMessageBoxes& boxes, const std::function<void()>& connect)
{
    bool inside = false;
    boxes.onShow = [&] {
        EXPECT_FALSE(inside || client.IsBusy() || engine.connecting()) << "a box opened inside the connect";
    };
    base::ScopeExit forget { [&boxes] { boxes.onShow = nullptr; } };
    askingConnect(engine, boxes, [&] {
        inside = true;
        base::ScopeExit left { [&] { inside = false; } };
        connect();
    });
}

} // namespace taskhaul::test
