// The one place that knows where the outside servers are. serverBase(name, fallback) gives a
// server's base URL: an override set for the run (setServerBaseOverride, a tool's --endpoint
// NAME=URL), else the entry of the DROVIK_SERVERS property list (names to URLs), else the built-in
// address. serverBase(name) holds the defaults of the names listed here, placeholders under
// ".invalid"; parseServerAddress gives a base's scheme, host and port (a default port when none).
#pragma once

#include <string>
#include <string_view>

namespace plat::net {

// The base URL of the server called `name`: the override set for this run, else its entry in the
// property list that DROVIK_SERVERS names (a dictionary of names to base-URL strings), else
// `fallback`. Every client asks here for each server it talks to, so tests point them all at
// 127.0.0.1 with one file. The file is read once per path; one that cannot be read or is no
// dictionary, or an entry that is no string, is reported once on standard error and the fallback
// used.
std::string serverBase(std::string_view name, std::string_view fallback);

// The base of `name` with `path` (starting with "/") after it: a base written with a trailing
// slash does not double it.
std::string serverURL(std::string_view name, std::string_view fallback, std::string_view path);

// The same for the names whose defaults live here (empty for any other name):
//   trackwell.collector.1, trackwell.collector.2   the metrics collectors, posted in that order
//                                                  (http, port 8888 when none is given, no path)
//   pagestats.collector                            the page-view collector (host and port; 80)
//   kiosk.api, kiosk.media                         the content-ads API and media servers
//   kiosk.store                                    the application store's web host: addresses on
//                                                  a host ending with its host are store pages
//   orbad.data, orbad.vc, orbad.ads, orbad.script  the ad network's data (configuration, feedback,
//                                                  analytics, debug), virtual-currency, ad and
//                                                  script hosts
// The defaults are placeholders under ".invalid": a build never reaches a real host by default.
std::string serverBase(std::string_view name);

// Replaces the base of `name` for the rest of the process (a tool's command line); an empty
// `base` removes the override.
void setServerBaseOverride(std::string_view name, std::string base);

// Scheme, host and port of a base URL ("http://h:8888/x" gives "http", "h", 8888); the port is
// `defaultPort` when the URL names none. False when the text is no absolute http(s) URL with a
// host.
struct ServerAddress {
    std::string scheme;
    std::string host;  // as written; an IPv6 literal keeps its brackets
    int port = 0;
    // scheme://host:port, with no path.
    std::string origin() const;
};
bool parseServerAddress(std::string_view base, int defaultPort, ServerAddress& out);

// Names under ".invalid" never resolve (RFC 6761): the built-in placeholders, which callers fail at
// once rather than hold a loop's clock on a lookup. Case and a trailing dot are ignored.
bool isPlaceholderHost(std::string_view host);
// The same of a URL's host; false when the text is no http(s) URL.
bool isPlaceholderURL(std::string_view url);

}  // namespace plat::net
