#pragma once
// The raise path between copies of the program on Windows: a later copy finds the running
// copy's main window by its title and brings it to the front. The running copy need not
// listen for anything.
#include "app/quorvel_app.h"

class Win32InstanceChannel : public InstanceChannel {
  public:
    bool RaiseRunningInstance() override;
    void ListenForRaiseRequests(std::function<void()>) override {}
};
