#include "ui/WindowState.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"

namespace brevanto::ui {

WindowState LoadWindowState(const std::string& folder) {
  std::string text;
  WindowState state;
  if (!ReadFileBytes(folder + kWindowStateFileName, text)) return state;
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (!json.is_object()) return state;
  const auto number = [&json](const char* key) {
    const auto it = json.find(key);
    return it != json.end() && it->is_number_integer() ? it->get<int>() : 0;
  };
  state.Width = std::max(0, number("Width"));
  state.Height = std::max(0, number("Height"));
  if (const auto it = json.find("Columns"); it != json.end() && it->is_array()) {
    for (const nlohmann::json& width : *it) {
      state.Columns.push_back(width.is_number_integer() ? std::max(0, width.get<int>()) : 0);
    }
  }
  return state;
}

Status SaveWindowState(const std::string& folder, const WindowState& state) {
  const nlohmann::json json = {
      {"Width", state.Width}, {"Height", state.Height}, {"Columns", state.Columns}};
  return WriteFileAtomically(folder + kWindowStateFileName, json.dump(2) + "\n");
}

}  // namespace brevanto::ui
