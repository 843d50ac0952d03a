#include "server/RequestGuard.h"

namespace wex {

RequestGuard::RequestGuard(const std::string& host, int port, std::string token)
    : token_(std::move(token)), port_(port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  std::set<std::string> names{ipv6 ? "[" + host + "]" : host};
  if (isLoopback(host)) names.insert({"localhost", "127.0.0.1", "[::1]"});
  for (const auto& name : names) {
    hosts_.insert(name + ":" + std::to_string(port));
    // Browsers leave the default port out of Host.
    if (port == 80) hosts_.insert(name);
  }
  anyHost_ = host == "0.0.0.0" || host == "::";
}

bool RequestGuard::isLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

bool RequestGuard::hostAllowed(const std::string& hostHeader) const {
  return anyHost_ ? !hostHeader.empty() : hosts_.count(hostHeader) > 0;
}

bool RequestGuard::tokenMatches(const std::string& candidate) const {
  if (candidate.size() != token_.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < token_.size(); ++i) difference |= candidate[i] ^ token_[i];
  return difference == 0;
}

int RequestGuard::check(const std::string& hostHeader, const std::string& origin,
                        const std::string& cookie, const std::string& authorization,
                        const std::string& tokenParameter, std::string* reason) const {
  if (!hostAllowed(hostHeader)) {
    *reason = "the Host \"" + hostHeader + "\" is not this server's address";
    return 403;
  }
  if (!origin.empty() && origin != "http://" + hostHeader) {
    *reason = "requests from the origin \"" + origin + "\" are refused";
    return 403;
  }
  if (token_.empty()) return 0;
  const std::string cookiePrefix = cookieName() + "=";
  size_t at = cookie.find(cookiePrefix);
  while (at != std::string::npos) {
    if (at == 0 || cookie[at - 1] == ' ' || cookie[at - 1] == ';') {
      const size_t begin = at + cookiePrefix.size();
      const size_t end = cookie.find(';', begin);
      if (tokenMatches(cookie.substr(begin, end == std::string::npos ? end : end - begin))) {
        return 0;
      }
    }
    at = cookie.find(cookiePrefix, at + 1);
  }
  const std::string bearer = "Bearer ";
  if (authorization.rfind(bearer, 0) == 0 && tokenMatches(authorization.substr(bearer.size()))) {
    return 0;
  }
  if (tokenFromParameter(tokenParameter)) return 0;
  *reason = "this server needs its token";
  return 401;
}

bool RequestGuard::tokenFromParameter(const std::string& tokenParameter) const {
  return !token_.empty() && tokenMatches(tokenParameter);
}

std::string RequestGuard::cookieName() const {
  return "wexmidi-token-" + std::to_string(port_);
}

std::string RequestGuard::cookie() const {
  return cookieName() + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict";
}

}  // namespace wex
