#include "platform/linux/backlight/backlight.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>

namespace platform::sysfs {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIntelGpu = "pci0000:00/0000:00:02.0";
constexpr const char* kNvidiaGpu = "pci0000:00/0000:00:01.0/0000:01:00.0";

// A sysfs tree in a temporary folder, laid out as the kernel lays it out:
// the class folders hold relative links into sys/devices.
class SysfsTree {
 public:
  SysfsTree() {
    std::string pattern = (fs::temp_directory_path() / "sysfs.XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    file("sys/class/drm/version", "drm 1.1.0 20060810\n");
  }
  ~SysfsTree() {
    for (const auto& path : mounts_) umount2(path.c_str(), MNT_DETACH);
    std::error_code error;
    fs::remove_all(root_, error);
  }
  SysfsTree(const SysfsTree&) = delete;
  SysfsTree& operator=(const SysfsTree&) = delete;

  const std::string& root() const { return root_; }

  void file(const std::string& path, const std::string& text) {
    fs::create_directories((fs::path(root_) / path).parent_path());
    std::ofstream(fs::path(root_) / path) << text;
  }

  void link(const std::string& path, const std::string& target) {
    fs::create_directories((fs::path(root_) / path).parent_path());
    fs::create_directory_symlink(target, fs::path(root_) / path);
  }

  // Card `n` of the GPU at `gpu` (a folder under sys/devices).
  void card(int n, const std::string& gpu) {
    const std::string name = "card" + std::to_string(n);
    const std::string folder = gpu + "/drm/" + name;
    fs::create_directories(fs::path(root_) / "sys/devices" / folder);
    link("sys/devices/" + folder + "/device", "../../../" + fs::path(gpu).filename().string());
    link("sys/class/drm/" + name, "../../devices/" + folder);
    link("sys/class/drm/renderD" + std::to_string(128 + n),
         "../../devices/" + gpu + "/drm/renderD" + std::to_string(128 + n));
  }

  // Connector `name` (such as card0-eDP-1) of card `n` on `gpu`; an id of 0
  // leaves out the connector_id file, as older kernels do.
  std::string connector(int n, const std::string& gpu, const std::string& name, const std::string& status,
                        int id = 0) {
    const std::string folder = gpu + "/drm/card" + std::to_string(n) + "/" + name;
    file("sys/devices/" + folder + "/status", status + "\n");
    if (id != 0) file("sys/devices/" + folder + "/connector_id", std::to_string(id) + "\n");
    link("sys/devices/" + folder + "/device", "../../card" + std::to_string(n));
    link("sys/class/drm/" + name, "../../devices/" + folder);
    return folder;
  }

  // Backlight `name` in the folder `parent` under sys/devices.
  void backlight(const std::string& parent, const std::string& name, const std::string& type,
                 const std::string& brightness = "468", const std::string& max = "937") {
    const std::string folder = "sys/devices/" + parent + "/" + name;
    file(folder + "/type", type + "\n");
    file(folder + "/brightness", brightness + "\n");
    file(folder + "/max_brightness", max + "\n");
    link("sys/class/backlight/" + name, "../../devices/" + parent + "/" + name);
  }

  std::string read(const std::string& path) const {
    std::ifstream in(fs::path(root_) / path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Makes `path` refuse writes for this process. File modes do not stop
  // root, so root gets a read-only bind mount in a private mount namespace.
  bool makeReadOnly(const std::string& path) {
    const std::string full = (fs::path(root_) / path).string();
    if (geteuid() != 0) return chmod(full.c_str(), 0444) == 0;
    if (unshare(CLONE_NEWNS) != 0) return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    if (mount(full.c_str(), full.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    mounts_.push_back(full);
    return mount(nullptr, full.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string root_;
  std::vector<std::string> mounts_;
};

// A laptop with its panel on eDP and the GPU's own backlight under it, an
// external monitor on DisplayPort and an empty HDMI port.
void intelLaptop(SysfsTree& tree) {
  tree.card(0, kIntelGpu);
  const auto panel = tree.connector(0, kIntelGpu, "card0-eDP-1", "connected", 95);
  tree.connector(0, kIntelGpu, "card0-DP-1", "connected", 104);
  tree.connector(0, kIntelGpu, "card0-HDMI-A-1", "disconnected", 110);
  tree.backlight(panel, "intel_backlight", "raw");
}

// Both GPUs of a hybrid laptop have a panel connector and a backlight; the
// one whose connector is connected drives the panel.
void hybridLaptop(SysfsTree& tree, bool panelOnNvidia) {
  tree.card(0, kIntelGpu);
  tree.card(1, kNvidiaGpu);
  const auto intelPanel =
      tree.connector(0, kIntelGpu, "card0-eDP-1", panelOnNvidia ? "disconnected" : "connected", 95);
  tree.connector(1, kNvidiaGpu, "card1-eDP-2", panelOnNvidia ? "connected" : "disconnected", 95);
  tree.connector(1, kNvidiaGpu, "card1-HDMI-A-1", "connected", 101);
  tree.backlight(intelPanel, "intel_backlight", "raw");
  tree.backlight(std::string(kNvidiaGpu) + "/backlight", "nvidia_0", "raw", "50", "100");
}

std::optional<DisplayId> builtinId(const std::string& root) {
  for (const Connector& connector : connectedConnectors(root)) {
    if (connector.builtin) return connector.id;
  }
  return std::nullopt;
}

std::vector<std::string> names(const std::vector<Connector>& connectors) {
  std::vector<std::string> result;
  for (const Connector& connector : connectors) result.push_back(connector.name);
  return result;
}

TEST(ConnectorsTest, ListsTheConnectedOnesAndKnowsThePanelTypes) {
  SysfsTree tree;
  tree.card(0, kIntelGpu);
  for (const char* name : {"card0-eDP-1", "card0-LVDS-1", "card0-DSI-1", "card0-DP-2", "card0-HDMI-A-1",
                           "card0-Virtual-1", "card0-DVI-D-1"}) {
    tree.connector(0, kIntelGpu, name, "connected");
  }
  tree.connector(0, kIntelGpu, "card0-eDP-2", "disconnected");
  tree.connector(0, kIntelGpu, "card0-Writeback-1", "unknown");

  std::map<std::string, bool> builtin;
  for (const Connector& connector : connectedConnectors(tree.root()))
    builtin[connector.name] = connector.builtin;
  const std::map<std::string, bool> expected = {
      {"card0-DP-2", false},  {"card0-DSI-1", true},      {"card0-DVI-D-1", false}, {"card0-HDMI-A-1", false},
      {"card0-LVDS-1", true}, {"card0-Virtual-1", false}, {"card0-eDP-1", true},
  };
  EXPECT_EQ(builtin, expected);
}

TEST(ConnectorsTest, NoDrmAtAllIsAnEmptyList) {
  SysfsTree tree;
  fs::remove_all(fs::path(tree.root()) / "sys/class/drm");
  EXPECT_TRUE(connectedConnectors(tree.root()).empty());
}

TEST(ConnectorsTest, IdsAreUniqueAcrossCardsNeverZeroAndStable) {
  SysfsTree tree;
  hybridLaptop(tree, true);                                  // both panel connectors have object id 95
  tree.connector(1, kNvidiaGpu, "card1-DP-1", "connected");  // no connector_id file
  const auto first = connectedConnectors(tree.root());
  ASSERT_EQ(names(first), (std::vector<std::string>{"card1-DP-1", "card1-HDMI-A-1", "card1-eDP-2"}));
  EXPECT_EQ(first[2].id, (2u << 24) | 95);
  EXPECT_EQ(connectorId(tree.root(), "card0-eDP-1"), (1u << 24) | 95);
  EXPECT_NE(first[0].id, 0u);
  EXPECT_NE(first[0].id, connectorId(tree.root(), "card1-DP-2"));
  EXPECT_EQ(first[0].id, connectorId(tree.root(), "card1-DP-1"));
  // Plugging a monitor in changes no other connector's id.
  tree.file("sys/devices/" + std::string(kNvidiaGpu) + "/drm/card1/card1-HDMI-A-1/status", "disconnected\n");
  tree.connector(1, kNvidiaGpu, "card1-DP-3", "connected", 120);
  const auto second = connectedConnectors(tree.root());
  ASSERT_EQ(names(second), (std::vector<std::string>{"card1-DP-1", "card1-DP-3", "card1-eDP-2"}));
  EXPECT_EQ(second[0].id, first[0].id);
  EXPECT_EQ(second[2].id, first[2].id);
}

TEST(BacklightTest, ChoosesThePanelsDevice) {
  const struct {
    const char* machine;
    void (*build)(SysfsTree&);
    const char* expected;
  } cases[] = {
      {"eDP laptop with intel_backlight", intelLaptop, "intel_backlight"},
      {"hybrid laptop, panel on the integrated GPU", [](SysfsTree& t) { hybridLaptop(t, false); },
       "intel_backlight"},
      {"hybrid laptop, panel on the discrete GPU", [](SysfsTree& t) { hybridLaptop(t, true); }, "nvidia_0"},
      {"firmware interface of the panel's GPU beside its raw one",
       [](SysfsTree& t) {
         intelLaptop(t);
         t.backlight(std::string(kIntelGpu) + "/backlight", "acpi_video0", "firmware");
       },
       "acpi_video0"},
      {"ACPI interface beside the GPU's device under the panel: the firmware type first",
       [](SysfsTree& t) {
         intelLaptop(t);
         t.backlight("LNXSYSTM:00/LNXSYBUS:00/PNP0A08:00/LNXVIDEO:00/backlight", "acpi_video0", "firmware");
       },
       "acpi_video0"},
      {"a platform interface beside the GPU's device under the panel",
       [](SysfsTree& t) {
         intelLaptop(t);
         t.backlight("platform/dell-laptop/backlight", "dell_backlight", "platform");
       },
       "dell_backlight"},
      {"ACPI interfaces of both GPUs: the one under the panel's GPU, whatever the names",
       [](SysfsTree& t) {
         hybridLaptop(t, false);
         t.backlight(std::string(kNvidiaGpu) + "/backlight", "acpi_video0", "firmware");
         t.backlight(std::string(kIntelGpu) + "/backlight", "acpi_video1", "firmware");
       },
       "acpi_video1"},
      {"raw devices: the one under the panel's connector before one under its GPU",
       [](SysfsTree& t) {
         intelLaptop(t);
         t.backlight(std::string(kIntelGpu) + "/backlight", "a_gpu_raw", "raw");
       },
       "intel_backlight"},
      {"an unknown type after raw",
       [](SysfsTree& t) {
         t.card(0, "platform/soc/display-subsystem");
         t.connector(0, "platform/soc/display-subsystem", "card0-DSI-1", "connected", 31);
         t.backlight("platform/backlight/backlight", "b_raw", "raw");
         t.backlight("platform/other/backlight", "a_other", "other");
       },
       "b_raw"},
      {"nothing near the panel: firmware before platform before raw",
       [](SysfsTree& t) {
         t.card(0, "platform/soc/display-subsystem");
         t.connector(0, "platform/soc/display-subsystem", "card0-DSI-1", "connected", 31);
         t.backlight("platform/backlight/backlight", "a_raw", "raw");
         t.backlight("platform/dell-laptop/backlight", "b_platform", "platform");
         t.backlight("LNXSYSTM:00/LNXVIDEO:00/backlight", "c_firmware", "firmware");
       },
       "c_firmware"},
      {"nothing near the panel, no firmware interface",
       [](SysfsTree& t) {
         t.card(0, "platform/soc/display-subsystem");
         t.connector(0, "platform/soc/display-subsystem", "card0-DSI-1", "connected", 31);
         t.backlight("platform/backlight/backlight", "a_raw", "raw");
         t.backlight("platform/dell-laptop/backlight", "b_platform", "platform");
       },
       "b_platform"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    SysfsTree tree;
    c.build(tree);
    const auto display = builtinId(tree.root());
    ASSERT_TRUE(display);
    EXPECT_EQ(backlightOf(tree.root(), *display), c.expected);
  }
}

TEST(BacklightTest, OnlyABuiltInPanelHasOne) {
  const struct {
    const char* machine;
    void (*build)(SysfsTree&);
  } cases[] = {
      {"desktop with external monitors and a stray firmware interface",
       [](SysfsTree& t) {
         t.card(0, kIntelGpu);
         t.connector(0, kIntelGpu, "card0-DP-1", "connected", 95);
         t.connector(0, kIntelGpu, "card0-HDMI-A-1", "connected", 104);
         t.backlight(std::string(kIntelGpu) + "/backlight", "acpi_video0", "firmware");
       }},
      {"laptop without any backlight",
       [](SysfsTree& t) {
         t.card(0, kIntelGpu);
         t.connector(0, kIntelGpu, "card0-eDP-1", "connected", 95);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.machine);
    SysfsTree tree;
    c.build(tree);
    bool asked = false;
    const PrivilegedSet privileged = [&asked](const std::string&, std::uint32_t) {
      asked = true;
      return 0;
    };
    for (const Connector& connector : connectedConnectors(tree.root())) {
      float level = -1;
      EXPECT_EQ(backlightOf(tree.root(), connector.id), std::nullopt) << connector.name;
      EXPECT_NE(readLevel(tree.root(), connector.id, &level), 0);
      EXPECT_EQ(level, -1);
      EXPECT_NE(writeLevel(tree.root(), connector.id, 0.5f, privileged), 0);
    }
    EXPECT_FALSE(asked);
  }
  SysfsTree tree;
  intelLaptop(tree);
  EXPECT_EQ(backlightOf(tree.root(), 0), std::nullopt);
  EXPECT_EQ(backlightOf(tree.root(), connectorId(tree.root(), "card0-HDMI-A-1")), std::nullopt);
}

TEST(LevelTest, ReadsBrightnessOverMax) {
  const struct {
    const char* brightness;
    const char* max;
    std::optional<float> level;
  } cases[] = {
      {"468", "937", static_cast<float>(468.0 / 937.0)},
      {"0", "937", 0.0f},
      {"937", "937", 1.0f},
      {"120000", "120000", 1.0f},
      {"938", "937", 1.0f},
      {"4294967295", "1", 1.0f},
      {"5", "0", std::nullopt},
      {"", "937", std::nullopt},
      {"12a", "937", std::nullopt},
      {"-1", "937", std::nullopt},
      {"468", "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.brightness) + " / " + c.max);
    SysfsTree tree;
    tree.card(0, kIntelGpu);
    const auto panel = tree.connector(0, kIntelGpu, "card0-eDP-1", "connected", 95);
    tree.backlight(panel, "intel_backlight", "raw", c.brightness, c.max);
    float level = -1;
    const std::int32_t status = readLevel(tree.root(), *builtinId(tree.root()), &level);
    if (c.level) {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(level, *c.level);
    } else {
      EXPECT_NE(status, 0);
    }
  }
}

struct Asked {
  std::string device;
  std::uint32_t value;
  bool operator==(const Asked&) const = default;
};

TEST(LevelTest, WritesTheNearestWholeStep) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const struct {
    float level;
    const char* written;
  } cases[] = {
      {0.5f, "469"},  // 468.5: halves go up
      {0.25f, "234"}, {0.0f, "0"},  {-0.0f, "0"},  {1.0f, "937"}, {1e-4f, "0"},
      {2.0f, "937"},  {-1.0f, "0"}, {kInf, "937"}, {-kInf, "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    SysfsTree tree;
    intelLaptop(tree);
    std::vector<Asked> asked;
    const std::int32_t status = writeLevel(tree.root(), *builtinId(tree.root()), c.level,
                                           [&asked](const std::string& d, std::uint32_t v) {
                                             asked.push_back({d, v});
                                             return 0;
                                           });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tree.read("sys/class/backlight/intel_backlight/brightness"), c.written);
    EXPECT_TRUE(asked.empty());
  }
}

TEST(LevelTest, FailsWithoutAskingWhereAWriteCannotWork) {
  const struct {
    const char* fault;
    float level;
    void (*spoil)(SysfsTree&);
  } cases[] = {
      {"NaN", std::numeric_limits<float>::quiet_NaN(), [](SysfsTree&) {}},
      {"no brightness file", 0.5f,
       [](SysfsTree& t) {
         fs::remove(fs::path(t.root()) / "sys/class/backlight/intel_backlight/brightness");
       }},
      {"no max_brightness", 0.5f,
       [](SysfsTree& t) {
         fs::remove(fs::path(t.root()) / "sys/class/backlight/intel_backlight/max_brightness");
       }},
      {"max_brightness 0", 0.5f,
       [](SysfsTree& t) { t.file("sys/class/backlight/intel_backlight/max_brightness", "0\n"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    SysfsTree tree;
    intelLaptop(tree);
    c.spoil(tree);
    bool asked = false;
    EXPECT_NE(writeLevel(tree.root(), *builtinId(tree.root()), c.level,
                         [&asked](const std::string&, std::uint32_t) {
                           asked = true;
                           return 0;
                         }),
              0);
    EXPECT_FALSE(asked);
    if (fs::exists(fs::path(tree.root()) / "sys/class/backlight/intel_backlight/brightness")) {
      EXPECT_EQ(tree.read("sys/class/backlight/intel_backlight/brightness"), "468\n");
    }
  }
}

TEST(LevelTest, AsksThePrivilegedServiceWhereTheFileRefuses) {
  for (const std::int32_t answer : {0, 1, -5}) {
    SCOPED_TRACE(answer);
    SysfsTree tree;
    hybridLaptop(tree, true);
    const std::string file = "sys/devices/" + std::string(kNvidiaGpu) + "/backlight/nvidia_0/brightness";
    if (!tree.makeReadOnly(file)) GTEST_SKIP() << "cannot make a file read-only here";
    std::vector<Asked> asked;
    const std::int32_t status = writeLevel(tree.root(), *builtinId(tree.root()), 0.34f,
                                           [&](const std::string& device, std::uint32_t value) {
                                             asked.push_back({device, value});
                                             return answer;
                                           });
    EXPECT_EQ(asked, (std::vector<Asked>{{"nvidia_0", 34}}));
    EXPECT_EQ(status == 0, answer == 0);
    EXPECT_EQ(tree.read(file), "50\n");
  }
}

}  // namespace
}  // namespace platform::sysfs
