#include "host/JSONReader.h"

#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "host/QuotedText.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

std::string shortened(const std::string& text) {
  constexpr size_t kShown = 24;
  const std::string shown = QuotedText::shown(std::string_view(text).substr(0, kShown));
  return text.size() <= kShown ? shown : shown + "...";
}

// Builds the document from parser events, keeping the path to the value
// being read for error messages.
class Builder {
 public:
  Builder(size_t maxDepth, size_t maxValues) : maxDepth_(maxDepth), maxValues_(maxValues) {}

  Json take() { return std::move(root_); }

  bool null() { return place(Json()); }
  bool boolean(bool value) { return place(Json(value)); }
  bool number_integer(Json::number_integer_t value) { return place(Json(value)); }
  bool number_unsigned(Json::number_unsigned_t value) { return place(Json(value)); }
  bool number_float(Json::number_float_t value, const std::string&) { return place(Json(value)); }
  bool string(std::string& value) { return place(Json(std::move(value))); }
  bool binary(Json::binary_t&) { return place(Json()); }

  bool start_object(size_t) { return open(Json::object()); }
  bool start_array(size_t) { return open(Json::array()); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(std::string& key) {
    Frame& frame = frames_.back();
    if (!frame.keys->insert(key).second) {
      throw JSONReadError(pathTo(key) + ": duplicate key \"" + shortened(key) + "\"");
    }
    frame.key = std::move(key);
    return true;
  }

  bool parse_error(size_t, const std::string& lastToken, const nlohmann::detail::exception& error) {
    if (error.id == 406) {
      throw JSONReadError(where() + "the number " + shortened(lastToken) +
                          " is beyond the range of a double");
    }
    std::string detail = error.what();
    const size_t prefixEnd = detail.find("] ");
    if (prefixEnd != std::string::npos) detail = detail.substr(prefixEnd + 2);
    throw JSONReadError("not valid JSON: " + detail);
  }

 private:
  struct Frame {
    Json* container;
    std::optional<std::unordered_set<std::string>> keys;  // objects only
    std::string key;                                      // of the value being read
  };

  // Puts a finished value where it belongs; returns where it now lives.
  Json* put(Json value) {
    values_ += JSONReader::weight(value);
    if (values_ > maxValues_) {
      throw JSONReadError(where() + "more than " + std::to_string(maxValues_) +
                          " values in one text (each list and object counts twice)");
    }
    if (frames_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Frame& frame = frames_.back();
    if (frame.keys) {
      // The key is new (checked above): append without the map's search.
      auto& entries =
          static_cast<Json::object_t::Container&>(frame.container->get_ref<Json::object_t&>());
      entries.emplace_back(frame.key, std::move(value));
      return &entries.back().second;
    }
    auto& elements = frame.container->get_ref<Json::array_t&>();
    elements.push_back(std::move(value));
    return &elements.back();
  }

  bool place(Json value) {
    put(std::move(value));
    return true;
  }

  bool open(Json container) {
    if (frames_.size() >= maxDepth_) {
      throw JSONReadError(where() + "nested deeper than " + std::to_string(maxDepth_) + " levels");
    }
    const bool isObject = container.is_object();
    Json* where = put(std::move(container));
    frames_.push_back(Frame{where, std::nullopt, {}});
    if (isObject) frames_.back().keys.emplace();
    return true;
  }

  bool close() {
    frames_.pop_back();
    return true;
  }

  // The path of the value being read, as "patches[2].inputs.x".
  std::string path() const {
    std::string text;
    for (size_t i = 0; i < frames_.size(); ++i) {
      const Frame& frame = frames_[i];
      if (frame.keys) {
        text += (text.empty() ? "" : ".") + shortened(frame.key);
      } else {
        const size_t count = frame.container->size();
        const size_t index = i + 1 < frames_.size() ? count - 1 : count;
        text += "[" + std::to_string(index) + "]";
      }
    }
    return text.empty() ? "top level" : text;
  }

  // The path and a colon before an error, nothing for the value at the top.
  std::string where() const { return frames_.empty() ? "" : path() + ": "; }

  std::string pathTo(const std::string& key) {
    std::string saved = std::move(frames_.back().key);
    frames_.back().key = key;
    std::string text = path();
    frames_.back().key = std::move(saved);
    return text;
  }

  size_t maxDepth_;
  size_t maxValues_;
  size_t values_ = 0;
  Json root_;
  std::vector<Frame> frames_;
};

}  // namespace

ValueJSON::Json JSONReader::parse(const std::string& text, size_t maxDepth, size_t maxValues) {
  Builder builder(maxDepth, maxValues);
  Json::sax_parse(text, &builder);
  return builder.take();
}

size_t JSONReader::valueCount(const ValueJSON::Json& document) {
  size_t count = weight(document);
  if (document.is_structured()) {
    for (const auto& element : document) count += valueCount(element);
  }
  return count;
}

}  // namespace wex
