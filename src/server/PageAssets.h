#pragma once

#include <map>
#include <string>

namespace wex {

// The page's files, read once from the built page's folder when the server
// starts: index.html and the files of assets/. Requests are answered from
// this table by exact name only, so no request path ever reaches the file
// system.
class PageAssets {
 public:
  struct Asset {
    std::string body;
    std::string type;
  };

  // An empty table when the folder holds no page.
  static PageAssets load(const std::string& webRoot);

  // The file a request path names ("/", "/index.html", "/assets/app.js");
  // null for any other path.
  const Asset* find(const std::string& path) const;
  bool empty() const { return assets_.empty(); }

 private:
  std::map<std::string, Asset> assets_;  // by request path
};

}  // namespace wex
