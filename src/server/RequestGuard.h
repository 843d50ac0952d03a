#pragma once

#include <map>
#include <set>
#include <string>

namespace wex {

// Decides whether a request may reach the API, from its headers alone: the
// Host must be the server's own address (so that a name rebound to the
// loopback by a foreign web site does not reach it), an Origin, when sent,
// must be the page's own, and off the loopback the token must come with the
// request (a "token" query parameter, the cookie the page gets with it, or
// an "Authorization: Bearer" header).
class RequestGuard {
 public:
  RequestGuard(const std::string& host, int port, std::string token);

  static bool isLoopback(const std::string& host);

  // 0 when the request may pass; else 403 or 401 with the reason.
  int check(const std::string& hostHeader, const std::string& origin, const std::string& cookie,
            const std::string& authorization, const std::string& tokenParameter,
            std::string* reason) const;
  // True when the request brought the token as a parameter: the answer then
  // sets the cookie.
  bool tokenFromParameter(const std::string& tokenParameter) const;
  // The cookie that carries the token. Its name holds the port, since
  // browsers share cookies between the ports of one host: two servers on one
  // machine keep a cookie each.
  std::string cookieName() const;
  std::string cookie() const;

 private:
  bool hostAllowed(const std::string& hostHeader) const;
  bool tokenMatches(const std::string& candidate) const;

  std::set<std::string> hosts_;  // "name:port" forms that are ours
  bool anyHost_ = false;         // a wildcard address: the token guards
  std::string token_;
  int port_;
};

}  // namespace wex
