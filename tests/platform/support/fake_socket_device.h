#pragma once
// A stand-in for vexil-sim on one socket, for the socket provider's tests: it answers the
// hello, open and control messages on its own thread, records every frame, and sends
// replies or drops its connections when the test says so.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32_types.h"

namespace testing_support {

class FakeSocketDevice {
  public:
    FakeSocketDevice(std::string path, plat::GUID interfaceClass);
    // Stops, closes every connection and removes the socket file.
    ~FakeSocketDevice();
    FakeSocketDevice(const FakeSocketDevice&) = delete;
    FakeSocketDevice& operator=(const FakeSocketDevice&) = delete;

    // The answer to the next opens of the device.
    std::atomic<uint32_t> openError{0};
    // Control codes whose answer says the device was reset.
    std::atomic<uint32_t> resetCode{0x220004};

    // Sends one reply on the newest connection.
    void Reply(const std::vector<uint8_t>& bytes);
    // Closes every connection, as a daemon that dies would (the socket stays).
    void DropConnections();
    // While held, nothing is read from the connections, so the host's writes back up.
    void HoldReading(bool hold);

    // Waits up to five seconds until the count is reached.
    bool WaitForFrames(size_t count);
    bool WaitForControls(size_t count);

    std::vector<std::vector<uint8_t>> frames();
    // Code and input bytes of every control request.
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> controls();
    int opens();
    int accepts();

  private:
    void Serve();
    void Handle(int fd, uint8_t type, const std::vector<uint8_t>& body);
    void SendLocked(int fd, uint8_t type, const std::vector<uint8_t>& body);

    std::string path_;
    plat::GUID class_;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> clients_;
    std::vector<std::vector<uint8_t>> frames_;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> controls_;
    int opens_ = 0;
    int accepts_ = 0;
    bool stop_ = false;
    bool hold_ = false;
    std::thread thread_;
};

}  // namespace testing_support
