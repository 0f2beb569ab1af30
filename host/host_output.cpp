// Output folder of the host: volume files, JSON summary, VTK files of the object groups.
#include "host/host_output.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "analyzer/io/atomic_file.h"
#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "host/vtk_output.h"

namespace ztr::host {

namespace {

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.9g", value);
  return buffer;
}

template <class T, class F>
std::string json_list(const T& items, F format) {
  std::string out = "[";
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += ", ";
    first = false;
    out += format(item);
  }
  return out + "]";
}

}  // namespace

std::string group_file_name(int32_t id) {
  char name[32];
  std::snprintf(name, sizeof name, "group_%04d.vtk", id);
  return name;
}

std::string channel_nifti_name(int32_t channel) {
  char name[32];
  std::snprintf(name, sizeof name, "volume_c%03d.nii.gz", channel);
  return name;
}

std::string format_summary(const HostState& state, const SessionInfo& info) {
  std::ostringstream out;
  out << "{\n";
  out << "  \"client_number\": " << info.client_number << ",\n";
  out << "  \"program\": " << json_string(info.program) << ",\n";
  out << "  \"plugin_exit\": " << json_string(info.plugin_exit) << ",\n";
  out << "  \"requests\": {";
  bool first = true;
  for (const auto& [type, n] : state.answered) {
    out << (first ? "" : ", ") << "\"" << type << "\": " << n;
    first = false;
  }
  out << "},\n";
  out << "  \"data_boards_read\": "
      << json_list(state.data_boards_read,
                   [](const std::pair<int32_t, int64_t>& b) {
                     return "{\"request\": " + std::to_string(b.first) +
                            ", \"bytes\": " + std::to_string(b.second) + "}";
                   })
      << ",\n";
  out << "  \"refused\": " << json_list(state.refusals, json_string) << ",\n";
  if (state.volume) {
    const VolumeHeader& h = *state.volume->header;
    std::vector<int32_t> types(state.volume->types, state.volume->types + h.channels);
    std::vector<int32_t> attributes(state.volume->attributes, state.volume->attributes + h.channels);
    auto integer = [](int32_t v) { return std::to_string(v); };
    out << "  \"volume\": {\"x\": " << h.x << ", \"y\": " << h.y << ", \"z\": " << h.z
        << ", \"channels\": " << h.channels << ", \"types\": " << json_list(types, integer)
        << ", \"attributes\": " << json_list(attributes, integer) << "},\n";
  } else {
    out << "  \"volume\": null,\n";
  }
  out << "  \"voxel_size\": " << json_number(state.voxel_size) << ",\n";
  out << "  \"voxel_size_requests\": "
      << json_list(state.voxel_size_requests, [](float v) { return json_number(v); }) << ",\n";
  auto triple = [](const std::array<float, 3>& c) {
    return "[" + json_number(c[0]) + ", " + json_number(c[1]) + ", " + json_number(c[2]) + "]";
  };
  out << "  \"cursor\": " << triple({state.cursor[0], state.cursor[1], state.cursor[2]}) << ",\n";
  out << "  \"cursor_requests\": " << json_list(state.cursor_requests, triple) << ",\n";
  auto box = [](const std::array<int32_t, 6>& b) {
    std::string s = "{\"origin\": [";
    s += std::to_string(b[0]) + ", " + std::to_string(b[1]) + ", " + std::to_string(b[2]);
    s += "], \"size\": [";
    s += std::to_string(b[3]) + ", " + std::to_string(b[4]) + ", " + std::to_string(b[5]) + "]}";
    return s;
  };
  out << "  \"box\": "
      << box({state.box_origin[0], state.box_origin[1], state.box_origin[2], state.box_size[0],
              state.box_size[1], state.box_size[2]})
      << ",\n";
  out << "  \"box_requests\": " << json_list(state.box_requests, box) << ",\n";
  out << "  \"object_groups\": [";
  first = true;
  for (const auto& [id, group] : state.groups) {
    out << (first ? "\n" : ",\n");
    first = false;
    out << "    {\"id\": " << id << ", \"count\": " << (group ? group->count : 0)
        << ", \"file\": " << json_string(group_file_name(id)) << ", \"types\": {";
    bool first_type = true;
    if (group) {
      for (const auto& [type, n] : count_object_types(*group)) {
        out << (first_type ? "" : ", ") << "\"" << type << "\": " << n;
        first_type = false;
      }
    }
    out << "}}";
  }
  out << (first ? "]\n" : "\n  ]\n");
  out << "}\n";
  return out.str();
}

ImageGeometry output_geometry(const HostState& state, const SessionInfo& info) {
  if (info.has_input_geometry && state.voxel_size_requests.empty() && state.volume &&
      state.volume->header->x == info.input_grid[0] && state.volume->header->y == info.input_grid[1] &&
      state.volume->header->z == info.input_grid[2]) {
    return info.input_geometry;
  }
  const float spacing[3] = {state.voxel_size, state.voxel_size, state.voxel_size};
  return geometry_from_voxel_size(spacing);
}

int write_outputs(const std::string& directory, const HostState& state, const SessionInfo& info,
                  std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(directory, ec);
  int result = 0;
  auto problem = [&](const std::string& text) {
    if (result == 0 && error) *error = text;
    result = -1;
  };
  const fs::path dir(directory);
  if (state.volume) {
    const std::string raw = (dir / kVolumeRawName).string();
    std::string raw_error;
    if (SaveRawVolumeFileAtomically(state.volume.get(), raw, &raw_error) != 0) problem(raw_error);
    const ImageGeometry geometry = output_geometry(state, info);
    NiftiImageLabel label;
    label.description = "ztrhost volume";
    std::string nifti_error;
    const std::string nifti = (dir / kVolumeNiftiName).string();
    bool mixed = false;
    for (int32_t c = 1; c < state.volume->header->channels; ++c) {
      mixed = mixed || state.volume->types[c] != state.volume->types[0] ||
              state.volume->attributes[c] != state.volume->attributes[0];
    }
    if (!mixed) {
      if (SaveNiftiVolume(state.volume.get(), nifti.c_str(), geometry, label, &nifti_error) != 0) {
        problem(nifti_error);
      }
    } else {
      // Channels of different types: one image per channel.
      for (int32_t c = 0; c < state.volume->header->channels; ++c) {
        const std::string name = (dir / channel_nifti_name(c)).string();
        if (SaveNiftiChannel(state.volume.get(), c, name.c_str(), geometry, label, &nifti_error) != 0) {
          problem(nifti_error);
        }
      }
    }
  }
  for (const auto& [id, group] : state.groups) {
    if (!group) continue;
    const std::string name = (dir / group_file_name(id)).string();
    if (write_group_vtk(*group, name, "ztrhost object group " + std::to_string(id)) != 0) {
      problem("cannot write " + name);
    }
  }
  const std::string summary = (dir / kSummaryName).string();
  std::string summary_error;
  if (!write_file_atomically(summary, format_summary(state, info), &summary_error)) problem(summary_error);
  return result;
}

}  // namespace ztr::host
