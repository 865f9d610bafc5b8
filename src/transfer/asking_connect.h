#pragma once

#include "log/user_messages.h"

#include <functional>

namespace taskhaul {

class TransferEngine;

// Runs a user's connect (`connect` calls the engine's siteConnect, changeFolder
// or connectCommand) and, once it has returned and the client waits for nothing,
// shows the user what it left: an error box, the warning about a changed
// certificate, or the question whether to trust a certificate, whose "yes"
// keeps the certificate and runs `connect` again. Raises what the connect raised
// (SilentStop after a failure), or SilentStop when the certificate is not trusted.
void askingConnect(TransferEngine& engine, MessageBoxes& boxes, const std::function<void()>& connect);

// Runs a user's transfer (`transfer` calls the engine's transferCommand or a
// transfer) and, once it has returned, shows the box it left: how the run
// ended, or why it did not start. Raises what the transfer raised.
void showingTransfer(TransferEngine& engine, MessageBoxes& boxes, const std::function<void()>& transfer);

} // namespace taskhaul
