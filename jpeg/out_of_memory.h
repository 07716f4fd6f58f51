// What happens when the decoder's working memory cannot be had: the user is told, and the
// process ends with exit code 1 (also inside a TWAIN host, which cannot go on usefully).
// The ending is a seam so tests can watch it happen and carry on.
#pragma once

namespace platform {
class UserInterface;
}

namespace jpeg {

extern const char kOutOfMemoryText[];

using ProcessExit = void (*)(int exitCode);

// Replaces the function that ends the process; returns the one it replaces.
ProcessExit setProcessExit(ProcessExit exit);

// Shows the out-of-memory message, then ends the process. Returns only if the exit seam
// has been replaced by one that returns.
void reportOutOfMemory(platform::UserInterface& ui);

} // namespace jpeg
