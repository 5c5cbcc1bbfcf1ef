#include "programdata/operation_log.h"

#include "platform/locked_file.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "programdata/error_messages.h"
#include "programdata/limits.h"
#include "programdata/targets.h"

namespace programdata {

namespace {

// The operation name as the log writes it: two blanks separate it from what follows.
std::string LogName(int op) {
    std::string_view name = OperationName(op);
    return name.empty() ? std::string() : std::string(name) + "  ";
}

std::string Hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", unsigned(value));
    return text;
}

// Reading or writing these would block or fail in ways the open cannot see.
bool IsUnusableFile(const std::string& fileName) {
    std::error_code ec;
    std::filesystem::file_status st = std::filesystem::status(fileName, ec);
    if (ec)
        return false;  // missing: created by the open
    return std::filesystem::is_directory(st) || std::filesystem::is_fifo(st) ||
           std::filesystem::is_socket(st);
}

}  // namespace

bool SystemLocalTime(std::tm& out) {
    std::time_t now = std::time(nullptr);
    if (now == std::time_t(-1))
        return false;
#ifdef _WIN32
    return localtime_s(&out, &now) == 0;
#else
    return localtime_r(&now, &out) != nullptr;
#endif
}

OperationLog::OperationLog(ProgramDataReporter& reporter, LocalTimeSource clock,
                           FirmwareTextSource firmware)
    : reporter_(reporter), clock_(std::move(clock)), firmware_(std::move(firmware)) {}

OperationLog::~OperationLog() {
    if (file_ != nullptr)
        std::fclose(file_);
}

bool OperationLog::OpenOperationLog(const std::string& fileName) {
    // A log still open from an operation that never closed it is finished first.
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    // Read and append: the open itself proves both rights, creates a missing file and never
    // truncates an existing one; a registered program file is refused. A name longer than
    // the settings file can keep would not be the log the next start writes to.
    if (!fileName.empty() && fileName.size() <= kMaxStoredPath && !IsUnusableFile(fileName))
        file_ = plat::OpenForAppend(fileName);
    if (file_ == nullptr) {
        reporter_.Report(IDS_LOG_OPEN_FAILED, fileName, MessageIcon::Error);
        return false;
    }
    // Unbuffered: each text reaches the file in one write, and a failed write leaves nothing
    // behind to be retried into a later text.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    writeErrorReported_ = false;
    fileName_ = fileName;
    return true;
}

bool OperationLog::CloseOperationLog() {
    if (file_ == nullptr)
        return true;
    int rc = std::fclose(file_);
    file_ = nullptr;
    if (rc != 0) {
        reporter_.Report(IDS_LOG_CLOSE_FAILED, fileName_, MessageIcon::Error);
        return false;
    }
    return true;
}

bool OperationLog::Append(std::string_view text) {
    std::string stored;
    stored.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n')
            stored.push_back('\r');
        stored.push_back(c);
    }
    bool ok = file_ != nullptr && std::fseek(file_, 0, SEEK_END) == 0;
    if (ok && !stored.empty())
        ok = std::fwrite(stored.data(), 1, stored.size(), file_) == stored.size();
    if (ok)
        return true;
    if (file_ != nullptr)
        std::clearerr(file_);
    if (!writeErrorReported_) {
        reporter_.Report(IDS_LOG_WRITE_FAILED, fileName_, MessageIcon::Error);
        writeErrorReported_ = true;
    }
    return false;
}

std::string OperationLog::LogHeaderText(int op) const {
    char time[64] = "";
    std::tm now{};
    if (clock_ && clock_(now) && std::strftime(time, sizeof time, "%Y/%m/%d %H:%M:%S", &now) == 0)
        time[0] = '\0';
    int count = 0;
    for ([[maybe_unused]] int n : op == kOperationUnplug ? targets::All() : targets::EnabledOnes())
        ++count;
    return "\n" + LogName(op) + time + "\nNumber of Target: " + std::to_string(count) + "\n";
}

std::string OperationLog::TargetLogBlockText(int op, int target,
                                             std::optional<std::string_view> serialDigits) const {
    const uint32_t status = targets::Status(target);
    std::string line = "\tTarget " + std::to_string(target) + ": ";
    if (status == 0) {
        line += LogName(op) + GetErrorMessage(0) + "\n";
    } else {
        line += "Error:0x" + Hex4(status) + "\n" + GetErrorMessage(status);
        if (status == 0x2004) {
            std::string firmware;
            if (!firmware_ || !firmware_(target, firmware))
                firmware.clear();
            line += " ";
            line += GetStringText(IDS_UPDATE_FIRMWARE);
            line += "Firmware Version: " + firmware + "\n";
        } else if (status == 0x2003) {
            line += GetStringText(IDS_CONFIRM_TARGET_CONNECTION);
            line += "\n";
        } else {
            line += "\n";
        }
    }
    if (op == kOperationPlug) {
        if (const std::optional<std::string> path = targets::DevicePath(target))
            line += "\t\tUSB Device Path: " + *path + "\n";
        else
            line += "USB Device Path: \n";
    }
    if (op == kOperationWrite && serialDigits.has_value()) {
        line += "\t\tSerial No: 0x";
        line += *serialDigits;
        line += status != 0 ? " missing\n" : "\n";
    }
    return line;
}

bool OperationLog::WriteLogHeader(int op) {
    return Append(LogHeaderText(op));
}

bool OperationLog::WriteLogText(std::string_view text) {
    return Append(text);
}

bool OperationLog::WriteTargetLogBlock(int op, int target,
                                       std::optional<std::string_view> serialDigits) {
    if (op != kOperationPlug && op != kOperationUnplug && !targets::Enabled(target))
        return true;
    return Append(TargetLogBlockText(op, target, serialDigits));
}

}  // namespace programdata
