#pragma once

#include "settings/password_keyring.h"

// The entry point of the keyring module (taskhaul-keyring.so), found by name
// when the module is loaded. The caller owns the keyring it returns; the module
// stays loaded for as long as the program runs.

#define TASKHAUL_KEYRING_ENTRY "taskhaulOpenDesktopKeyring"

// Bumped whenever PasswordKeyring changes, so that a module left from another
// build is refused instead of called through a different table.
constexpr int taskhaulKeyringInterface = 1;

extern "C" {
using TaskhaulKeyringEntry = taskhaul::PasswordKeyring* (*)(int interfaceVersion, const QString& service);
}
