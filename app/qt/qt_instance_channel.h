#pragma once
// The raise path between copies of the program: a local socket named after the program in
// the user's lock directory. The running copy listens; a later copy connects, asks, and waits
// for the answer.
#include <QLocalServer>
#include <QString>
#include <functional>

#include "app/quorvel_app.h"

class QtInstanceChannel : public InstanceChannel {
  public:
    explicit QtInstanceChannel(const std::string& programName);
    ~QtInstanceChannel() override;

    bool RaiseRunningInstance() override;
    void ListenForRaiseRequests(std::function<void()> raise) override;

    const QString& ServerName() const { return serverName_; }

  private:
    QString serverName_;
    QLocalServer server_;
    std::function<void()> raise_;
};
