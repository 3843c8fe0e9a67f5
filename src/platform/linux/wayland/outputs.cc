#include "platform/linux/wayland/outputs.h"

namespace platform::wayland {
namespace {

constexpr std::uint32_t kOutputVersion = 2;     // scale came with 2
constexpr std::uint32_t kXdgManagerVersion = 3;
enum : std::uint16_t { kGeometry = 0, kMode = 1, kScale = 3 };  // wl_output events
enum : std::uint16_t { kLogicalPosition = 0, kLogicalSize = 1 };  // zxdg_output_v1 events
constexpr std::uint16_t kGetXdgOutput = 1;  // manager request
constexpr std::uint32_t kCurrentMode = 1;

void outputEvent(Output& output, std::uint16_t opcode, Reader& args) {
  if (opcode == kGeometry) {
    for (int skip = 0; skip < 5; ++skip) args.uint();  // x, y, size in mm, subpixel
    args.string();                                     // make
    args.string();                                     // model
    output.transform = args.integer();
  } else if (opcode == kMode) {
    const std::uint32_t flags = args.uint();
    const std::int32_t width = args.integer();
    const std::int32_t height = args.integer();
    if ((flags & kCurrentMode) != 0) {
      output.modeWidth = width;
      output.modeHeight = height;
    }
  } else if (opcode == kScale) {
    output.scale = args.integer();
  }
}

void xdgOutputEvent(Output& output, std::uint16_t opcode, Reader& args) {
  if (opcode == kLogicalPosition) {
    output.x = args.integer();
    output.y = args.integer();
  } else if (opcode == kLogicalSize) {
    output.width = args.integer();
    output.height = args.integer();
    output.logical = args.ok();
  }
}

}  // namespace

Frame frameOf(const Output& output) {
  if (output.logical) return {double(output.x), double(output.y), double(output.width), double(output.height)};
  const double scale = output.scale > 0 ? output.scale : 1;
  const bool turned = output.transform % 2 == 1;  // 90 or 270 degrees, flipped or not
  const double width = (turned ? output.modeHeight : output.modeWidth) / scale;
  const double height = (turned ? output.modeWidth : output.modeHeight) / scale;
  return {0, 0, width, height};
}

std::vector<std::shared_ptr<Output>> followOutputs(Connection& connection) {
  std::vector<std::shared_ptr<Output>> outputs;
  for (const Global& global : connection.all("wl_output")) {
    auto output = std::make_shared<Output>();
    output->id = connection.bind(global, kOutputVersion, [output](std::uint32_t, std::uint16_t opcode,
                                                                   Reader& args) {
      outputEvent(*output, opcode, args);
    });
    outputs.push_back(output);
  }
  const Global* manager = connection.find("zxdg_output_manager_v1");
  if (manager == nullptr) return outputs;
  const std::uint32_t managerId = connection.bind(*manager, kXdgManagerVersion, nullptr);
  for (const auto& output : outputs) {
    const std::uint32_t id = connection.create([output](std::uint32_t, std::uint16_t opcode, Reader& args) {
      xdgOutputEvent(*output, opcode, args);
    });
    connection.request(managerId, kGetXdgOutput, Writer().uint(id).uint(output->id));
  }
  return outputs;
}

}  // namespace platform::wayland
