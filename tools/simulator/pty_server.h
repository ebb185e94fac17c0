#pragma once

#include "tools/simulator/device.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// What the line does to one answer.
enum class TFault {
    None,
    Drop,     // no answer at all
    Corrupt,  // one bit of one byte flipped
    Truncate, // last byte missing
    Trailing, // one extra byte after the frame
    Late,     // answered after the plan's delay
};

// Faults injected by exchange count (counting valid requests from 1).
struct TFaultPlan {
    int dropEvery = 0;
    int corruptEvery = 0;
    int truncateEvery = 0;
    int trailingEvery = 0;
    int lateEvery = 0;
    std::chrono::milliseconds lateBy{0};
    int silentAfter = 0;       // answers nothing after this many exchanges; 0: never
    bool spareIdentify = false; // identification polls are always answered cleanly
    int baud = 0;              // paces the wire at this speed (10 bits a byte); 0: no pacing
};

struct TExchangeInfo {
    int number;            // 1, 2, ... over all valid requests
    std::uint8_t command;
};

// Serves a simulated device on the master side of a pseudo-terminal; clients
// open the slave side by its path like any serial port.
class TPtyServer {
public:
    TPtyServer(TSimulatedDevice &device, TFaultPlan plan = {});
    ~TPtyServer();

    TPtyServer(const TPtyServer &) = delete;
    TPtyServer &operator=(const TPtyServer &) = delete;

    // Opens the pseudo-terminal and starts answering; false with a message.
    bool Start(std::string *error = nullptr);
    void Stop();

    // Path of the slave side, for clients to open.
    std::string PortPath() const;
    // Keeps a symbolic link at path pointing at the current slave side.
    bool SetLink(const std::string &path, std::string *error = nullptr);

    // Pulls the plug: the pseudo-terminal goes away mid-whatever. Plug opens a
    // new one (a new path; the link, if any, follows it).
    void Unplug();
    bool Plug(std::string *error = nullptr);

    // Decides the fault of each exchange; overrides the plan while set.
    void SetFaultScript(std::function<TFault(const TExchangeInfo &)> script);
    void SetPlan(const TFaultPlan &plan);

    int Exchanges() const { return m_exchanges.load(); }
    int FaultsInjected() const { return m_faults.load(); }

private:
    bool OpenPty(std::string *error);
    void ClosePty();
    void Run();
    void HandleInput(Bytes &input);
    void Serve(const Bytes &request);
    TFault FaultFor(const TExchangeInfo &info);
    void SendPaced(const Bytes &answer);
    bool Pause(std::chrono::microseconds duration);

    TSimulatedDevice &m_device;
    mutable std::mutex m_mutex; // plan, script, paths
    TFaultPlan m_plan;
    std::function<TFault(const TExchangeInfo &)> m_script;
    std::string m_slavePath;
    std::string m_linkPath;

    std::atomic<int> m_master{-1};
    int m_slave = -1; // kept open so the master never sees a hang-up between clients
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_exchanges{0};
    std::atomic<int> m_faults{0};
    std::thread m_thread;
};
