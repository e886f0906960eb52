#pragma once

#include "app/texts.h"

namespace qvx::qt {

// The message as a modal box with an OK button; returns once the operator pressed it.
void ShowMessageBox(const Message& message);

}  // namespace qvx::qt
