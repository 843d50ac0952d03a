#include "server/PageAssets.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace wex {

namespace {

// The kinds of file the page is built from; others are not served.
const std::map<std::string, std::string>& contentTypes() {
  static const std::map<std::string, std::string> types = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".png", "image/png"},
      {".svg", "image/svg+xml"},
      {".json", "application/json"},
  };
  return types;
}

bool readWhole(const std::filesystem::path& path, std::string* body) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  body->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

}  // namespace

PageAssets PageAssets::load(const std::string& webRoot) {
  PageAssets page;
  if (webRoot.empty()) return page;
  const std::filesystem::path root(webRoot);
  std::error_code error;
  const auto add = [&](const std::filesystem::path& file, const std::string& requestPath) {
    const auto type = contentTypes().find(file.extension().string());
    if (type == contentTypes().end() || !std::filesystem::is_regular_file(file, error)) return;
    Asset asset{"", type->second};
    if (readWhole(file, &asset.body)) page.assets_[requestPath] = std::move(asset);
  };
  add(root / "index.html", "/index.html");
  if (page.assets_.empty()) return page;
  page.assets_["/"] = page.assets_["/index.html"];
  for (const auto& entry : std::filesystem::directory_iterator(root / "assets", error)) {
    add(entry.path(), "/assets/" + entry.path().filename().string());
  }
  return page;
}

const PageAssets::Asset* PageAssets::find(const std::string& path) const {
  const auto found = assets_.find(path);
  return found == assets_.end() ? nullptr : &found->second;
}

}  // namespace wex
