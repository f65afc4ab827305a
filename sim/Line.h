#pragma once
// The tool's end of the line: a pseudo-terminal behind a symlink, or a real serial port.

#include <optional>
#include <string>

namespace md::sim {

class ToolLine {
public:
    virtual ~ToolLine() = default;

    // -1 while unplugged.
    int Fd() const { return m_fd; }
    bool Plugged() const { return m_fd >= 0; }
    // The rate the tool's end is set to, when the line can tell (a pseudo-terminal keeps the
    // rate its user set); 0 on a real port, where the wire itself garbles a mismatch.
    virtual int ToolRate() const = 0;
    // Whether the tool's end is set to odd parity, when the line can tell: a pseudo-terminal
    // keeps the odd flag its user set but drops parity enable, so odd can be told from none
    // and even, but those two look alike. Nothing on a real port.
    virtual std::optional<bool> ToolOdd() const = 0;
    // The meter has switched its own rate.
    virtual void MeterRateChanged(int rate) = 0;
    // The cable is pulled: open handles on the tool's side fail; the path stays, naming a
    // device that is no longer there.
    virtual void Unplug() = 0;
    // The tool's side disappears entirely, as a USB adapter's does: open handles fail and the
    // path goes away. False with error where the line cannot play it.
    virtual bool Vanish(std::string& error) = 0;
    // Comes back at the same path; false with error when that fails.
    virtual bool Replug(std::string& error) = 0;
    // "/tmp/x/com1 -> /dev/pts/5".
    virtual std::string Where() const = 0;

protected:
    int m_fd = -1;
};

// A pseudo-terminal pair; the tool opens `path`, a symlink to the terminal side.
class PtyLine final : public ToolLine {
public:
    // The terminal side starts at the meter's rate and no parity: Qt's serial port clears
    // only parity enable for none, so an odd flag set here would stay on a tool at none.
    // Throws std::runtime_error.
    PtyLine(std::string path, int rate);
    ~PtyLine() override;

    int ToolRate() const override;
    std::optional<bool> ToolOdd() const override;
    void MeterRateChanged(int) override {}
    void Unplug() override;
    bool Vanish(std::string& error) override;
    bool Replug(std::string& error) override;
    std::string Where() const override { return m_path + " -> " + m_terminal; }

private:
    bool Open(std::string& error);
    void Close();
    // Removes the symlink if it is still the one we made; true when it was removed.
    bool RemovePath();

    std::string m_path;
    std::string m_terminal;
    std::string m_linkTarget; // what our symlink at m_path points to; empty: no symlink of ours
    int m_rate;
    // Our own handle on the terminal side keeps the pair alive and its settings in place while
    // the tool has it closed.
    int m_terminalFd = -1;
};

// A real serial port that the tool reaches over a cable.
class DeviceLine final : public ToolLine {
public:
    // parity: 'N', 'O' or 'E'. Throws std::runtime_error.
    DeviceLine(std::string device, int rate, char parity);
    ~DeviceLine() override;

    int ToolRate() const override { return 0; }
    std::optional<bool> ToolOdd() const override { return std::nullopt; }
    void MeterRateChanged(int rate) override;
    void Unplug() override;
    bool Vanish(std::string& error) override;
    bool Replug(std::string& error) override;
    std::string Where() const override { return m_device; }

private:
    bool Open(std::string& error);

    std::string m_device;
    int m_rate;
    char m_parity;
};

} // namespace md::sim
