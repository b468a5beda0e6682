// Emulated USB printers for the simulator and the transport's tests: a umockdev device
// tree with, per printer, the USB device of vendor 0471, its printer-class interface
// bound to usblp and the usbmisc "lpN" device whose node /dev/usb/lpN is a pty. The
// process that owns the bed holds the pty's master end: what the host writes to the node
// comes out there, and what is written there reaches the host.
//
// Code that should see the emulated tree (discovery, the port, the watcher) must run with
// libumockdev-preload.so.0 preloaded, and so must the process that owns the bed, or its
// hot-plug events are never delivered: see EnsureUmockdevPreload.
#pragma once

#include <map>
#include <memory>
#include <string>

struct _UMockdevTestbed;

namespace sim {

// Re-executes the running program with the umockdev preload in LD_PRELOAD unless it is
// there already (argv as main got it). Returns only when the preload is in place, or
// with false and a message in error when the re-execution failed. Also lets an
// AddressSanitizer build run under the preload.
bool EnsureUmockdevPreload(char** argv, std::string& error);

// One emulated printer as discovery sees it.
struct PrinterRecord {
  int lp = 0;        // lpN: node /dev/usb/lpN, device number 180:N
  int hubPort = -1;  // port on the hub (sysfs 1-1.<hubPort>); -1: 4 + lp; the device
                     // number on bus 1 is hubPort + 1 (/dev/bus/usb/001/<hubPort + 1>)
  std::string idVendor = "0471";
  std::string idProduct = "0055";
  std::string interfaceClass = "07";  // 07 is the printer class
  bool withNode = true;               // false: an lp device that has no device node
  std::string serial = "VRQSIM0001";  // empty: the device has no serial number
  // The driver bound to the interface, empty for none. Only usblp makes an lp device;
  // with any other the printer is on USB without one (lp is then unused).
  std::string driver = "usblp";

  // The USB device's kernel name, "1-1.<hub port>": the printer's identity in the bed.
  std::string PortPath() const;
  bool HasLpDevice() const { return driver == "usblp"; }
};

class PrinterBed {
 public:
  // Creates an empty device tree and sets UMOCKDEV_DIR for this process and the
  // children it starts from now on.
  PrinterBed();
  // Removes the tree (its folder included) and closes every master.
  ~PrinterBed();
  PrinterBed(const PrinterBed&) = delete;
  PrinterBed& operator=(const PrinterBed&) = delete;

  bool IsValid() const { return testbed_ != nullptr; }
  // Why the last failing call failed.
  const std::string& Error() const { return error_; }
  // The tree's root folder.
  std::string RootDir() const;

  // Plugs a printer in: makes its node (a fresh pty) first, then adds its devices,
  // which sends their "add" events. False when its port path or its lpN is in use
  // already or umockdev refuses the devices.
  bool Plug(const PrinterRecord& record);
  // Pulls the printer on portPath out: "remove" events and devices from the lp device
  // up, then the node goes away and its master is closed, so the host's descriptors
  // fail with EIO.
  bool Unplug(const std::string& portPath);
  // Sends another event ("change", ...) for the printer's lp device.
  bool SendEvent(const std::string& portPath, const char* action);

  bool IsPlugged(const std::string& portPath) const { return printers_.count(portPath) != 0; }
  // The lowest lpN that no plugged printer holds, as usblp hands them out.
  int LowestFreeLp() const;
  // The master end of the printer's node (non-blocking, close-on-exec), -1 when it has
  // none.
  int MasterFd(const std::string& portPath) const;
  // The name of the terminal behind the printer's node ("/dev/pts/3"), empty when none.
  std::string PtyName(const std::string& portPath) const;
  // The USB device's own node, as the host names it (/dev/bus/usb/001/005) and where it
  // is in the tree; empty when the printer is not plugged in.
  std::string UsbNode(const std::string& portPath) const;
  std::string UsbNodeInTree(const std::string& portPath) const;

  // The mode every node made from now on gets (a pty's own is 0620, the terminal
  // group's); negative leaves it as it is.
  void SetNodeMode(int mode) { nodeMode_ = mode; }
  // Lets every user reach the tree from now on: its folder is private to its owner, and
  // the preload ends a process that cannot reach it.
  void ShareWithAllUsers();

 private:
  struct Plugged;
  bool MakeNode(int lp, Plugged& printer);
  bool MakeUsbNode(Plugged& printer);
  void RemoveNode(Plugged& printer);
  bool LpInUse(int lp) const;
  void OpenTreeToAll();

  // The testbed is a GObject: its last reference removes the tree's folder.
  struct TestbedUnref {
    void operator()(_UMockdevTestbed* testbed) const;
  };
  std::unique_ptr<_UMockdevTestbed, TestbedUnref> testbed_;
  std::string root_;
  std::string error_;
  std::map<std::string, std::unique_ptr<Plugged>> printers_;  // by port path
  int nodeMode_ = -1;
  bool shared_ = false;
};

}  // namespace sim
