#include "appcore/JsonErrorPath.h"

#include <vector>

#include <nlohmann/json.hpp>

namespace brevanto {

namespace {

using Json = nlohmann::ordered_json;

// Follows the nesting of the values read so far; keeps nothing of the values themselves.
class PathTracker final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool string(string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override { return Open(false); }
  bool key(string_t& name) override {
    m_frames.back().key = name;
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(true); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception& error) override {
    m_error.Message = error.what();
    // A number that fits nothing is a problem of its key's value; a broken text has no key.
    if (error.id == 406) {
      m_error.Message = "is a number beyond every range";
      m_error.Key = Path();
    }
    return false;
  }

  const JsonTextError& Error() const { return m_error; }

 private:
  struct Frame {
    bool array = false;
    std::size_t index = 0;  // of the element being read
    std::string key;
  };

  bool Value() {
    if (!m_frames.empty() && m_frames.back().array) ++m_frames.back().index;
    return true;
  }
  bool Open(bool array) {
    m_frames.push_back({array, 0, {}});
    return true;
  }
  bool Close() {
    m_frames.pop_back();
    return Value();
  }
  std::string Path() const {
    std::string path;
    for (const Frame& frame : m_frames) {
      if (frame.array) {
        path += "[" + std::to_string(frame.index) + "]";
      } else if (!frame.key.empty()) {
        path += (path.empty() ? "" : ".") + frame.key;
      }
    }
    return path;
  }

  std::vector<Frame> m_frames;
  JsonTextError m_error;
};

}  // namespace

JsonTextError FindJsonTextError(const std::string& text) {
  PathTracker tracker;
  Json::sax_parse(text, &tracker);
  return tracker.Error();
}

}  // namespace brevanto
