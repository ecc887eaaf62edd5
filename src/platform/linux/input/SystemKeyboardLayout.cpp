#include "platform/linux/input/SystemKeyboardLayout.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <fstream>
#include <sstream>

namespace tarnell::input {
namespace {

constexpr int kBusTimeoutMs = 500;

std::string trim(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    const auto end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

std::string unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::optional<std::string> locale1Property(QDBusConnection& bus, const char* name) {
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.locale1"), QStringLiteral("/org/freedesktop/locale1"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << QStringLiteral("org.freedesktop.locale1") << QString::fromLatin1(name);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    const QVariant value = reply.arguments().first().value<QDBusVariant>().variant();
    return value.toString().toStdString();
}

std::optional<XkbNames> layoutFromLocale1() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    auto layout = locale1Property(bus, "X11Layout");
    if (!layout || layout->empty()) {
        return std::nullopt;
    }
    XkbNames names;
    names.layout = *layout;
    names.model = locale1Property(bus, "X11Model").value_or("");
    names.variant = locale1Property(bus, "X11Variant").value_or("");
    names.options = locale1Property(bus, "X11Options").value_or("");
    return names;
}

} // namespace

std::optional<XkbNames> parseDefaultKeyboard(std::string_view text) {
    XkbNames names;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        const std::string trimmed = trim(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        const auto equals = trimmed.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = trim(std::string_view(trimmed).substr(0, equals));
        const std::string value = unquote(trim(std::string_view(trimmed).substr(equals + 1)));
        if (key == "XKBMODEL") {
            names.model = value;
        } else if (key == "XKBLAYOUT") {
            names.layout = value;
        } else if (key == "XKBVARIANT") {
            names.variant = value;
        } else if (key == "XKBOPTIONS") {
            names.options = value;
        }
    }
    if (names.layout.empty()) {
        return std::nullopt;
    }
    return names;
}

std::optional<XkbNames> systemKeyboardLayout() {
    if (auto names = layoutFromLocale1()) {
        return names;
    }
    std::ifstream file("/etc/default/keyboard");
    if (!file) {
        return std::nullopt;
    }
    std::stringstream content;
    content << file.rdbuf();
    return parseDefaultKeyboard(content.str());
}

} // namespace tarnell::input
