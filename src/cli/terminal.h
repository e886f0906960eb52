#pragma once

namespace qvx::cli {

// Whether standard error is a terminal that can redraw lines in place.
bool ErrorStreamIsTerminal();

}  // namespace qvx::cli
