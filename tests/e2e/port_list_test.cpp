// korvane-flash --list on the real MIDI system: every port under a device
// name of at most 31 bytes that tells it from the others and can be read,
// with the system's own name beside it.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace korvane::testing {
namespace {

struct ListedPort {
  std::string direction;  // "in" or "out"
  std::string name;       // the device name
  std::string system;     // the system's own name, in the parentheses
};

class PortList : public MidiEndToEnd {
 protected:
  std::vector<ListedPort> List() {
    const RunResult list = ListPorts();
    EXPECT_EQ(list.status, 0) << list.err;
    std::vector<ListedPort> ports;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
      const auto number = line.find(": ");
      const auto system = line.find("  (");
      EXPECT_TRUE(number != std::string::npos && system != std::string::npos && line.ends_with(")"))
          << line;
      if (number == std::string::npos || system == std::string::npos)
        continue;
      ports.push_back({line.substr(0, line.find(' ')), line.substr(number + 2, system - number - 2),
                       line.substr(system + 3, line.size() - system - 4)});
    }
    // Within a direction no two ports share a name, and every name fits WinMM's field.
    std::set<std::string> seen;
    for (const auto& port : ports) {
      EXPECT_LE(port.name.size(), 31u) << port.name;
      EXPECT_TRUE(seen.insert(port.direction + " " + port.name).second) << port.name;
    }
    return ports;
  }

  // The one port of this direction whose system name holds text.
  static const ListedPort* Find(const std::vector<ListedPort>& ports, const std::string& direction,
                                const std::string& text) {
    const ListedPort* found = nullptr;
    for (const auto& port : ports) {
      if (port.direction == direction && port.system.find(text) != std::string::npos) {
        EXPECT_EQ(found, nullptr) << "two " << direction << " ports hold " << text;
        found = &port;
      }
    }
    return found;
  }
};

TEST_F(PortList, ClientsWhoseNamesDifferOnlyAfterTheCutAreToldApart) {
  // 33 bytes, the first 32 the same; cut at 31 the two were one name.
  const std::string common = "Korvane Simulated Controller No ";
  StartSim(common + "1");
  StartSim(common + "2");
  const auto ports = List();
  for (const char* direction : {"in", "out"}) {
    for (const char* number : {"1", "2"}) {
      SCOPED_TRACE(std::string(direction) + " " + number);
      const ListedPort* port = Find(ports, direction, ":" + common + number);
      ASSERT_NE(port, nullptr);
      // Both ends of the name stay: what it is, and which one.
      EXPECT_TRUE(port->name.starts_with("Korvane Simul")) << port->name;
      EXPECT_TRUE(port->name.ends_with(std::string(" No ") + number)) << port->name;
    }
  }
}

TEST_F(PortList, TheFourVirmidiPortsGoByTheirOwnNames) {
  if (midi_.IsJack())
    GTEST_SKIP() << "VirMIDI ports are ALSA's (snd-virmidi); the tests run on JACK";
  const auto ports = List();
  if (Find(ports, "in", "Virtual Raw MIDI 0-0:") == nullptr)
    GTEST_SKIP() << "snd-virmidi is not loaded here (scripts/alsa-vm loads it)";
  for (const char* direction : {"in", "out"}) {
    for (const char* number : {"0-0", "0-1", "0-2", "0-3"}) {
      const std::string port = std::string("VirMIDI ") + number;
      const ListedPort* listed =
          Find(ports, direction, std::string("Virtual Raw MIDI ") + number + ":" + port + " ");
      ASSERT_NE(listed, nullptr) << direction << " " << port;
      EXPECT_EQ(listed->name, port);
      EXPECT_TRUE(listed->system.starts_with("ALSA: ")) << listed->system;
    }
  }
}

}  // namespace
}  // namespace korvane::testing
