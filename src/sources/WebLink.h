#pragma once

#include <optional>

#include <QString>
#include <QUrl>

namespace corvanta {

// The only way a string read from a feed becomes a link the user may open:
// anything with another scheme (javascript:, file:, custom handlers) is refused.
namespace WebLink {

// An http or https link, resolved against `base` when it is relative.
std::optional<QUrl> web(const std::optional<QString>& text, const std::optional<QUrl>& base = std::nullopt);

// An http, https, macappstore or itms-apps link.
std::optional<QUrl> store(const std::optional<QString>& text);

} // namespace WebLink

} // namespace corvanta
