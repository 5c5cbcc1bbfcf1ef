#pragma once
// Windows build: a test seam of the step that puts a finished copy in place of its file
// (settings writes, replaced file contents). Before each attempt the hook gets the copy's path
// and the attempt's number (0 first), in place of the pause between attempts, so that a test
// can hold the copy open for a moment as a virus scanner does. An empty hook removes it.
#include <functional>
#include <string>

namespace plat {

void SetReplaceAttemptHookForTesting(
    std::function<void(const std::string& copy, int attempt)> hook);

}  // namespace plat
