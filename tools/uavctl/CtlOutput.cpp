#include "CtlOutput.h"

#include "ParameterNames.h"
#include "ReplyDecoder.h"
#include "TransponderFrames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <ctime>

namespace ctl {

namespace {

QString Latin1(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QJsonValue OptionalText(const std::optional<std::string>& text) {
    return text ? QJsonValue(Latin1(*text)) : QJsonValue(QJsonValue::Null);
}

QJsonValue NameOf(char letter) {
    const std::string_view name = proto::ParameterName(letter);
    return name.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(Latin1(name));
}

std::string Line(std::initializer_list<std::string_view> fields) {
    std::string line;
    bool first = true;
    for (std::string_view f : fields) {
        if (!first)
            line += '\t';
        first = false;
        line += f;
    }
    return line + '\n';
}

} // namespace

const char* SettingRow::Status() const {
    if (!verified)
        return "sent, not verified";
    return read ? (*read == wanted ? "ok" : "differs") : "no answer";
}

std::string TextOf(const Outcome& o) {
    std::string out;
    for (const ValueRead& v : o.values)
        if (v.value)
            out += Line({std::string(1, v.letter), proto::ParameterName(v.letter), Printable(*v.value)});
    for (const SettingRow& s : o.settings)
        out += Line({s.name, s.wanted, s.read ? Printable(*s.read) : "-", s.Status()});
    if (o.rttMs) {
        char ms[32];
        std::snprintf(ms, sizeof ms, "%.3f ms", *o.rttMs);
        out += Line({"ping", ms});
    }
    if (o.received)
        out += Printable(*o.received) + '\n';
    for (const TComPort& p : o.ports) {
        const TPortIdentity& id = p.Identity;
        const auto shown = [](const std::string& field) { return field.empty() ? "-" : Printable(field); };
        out += Line({std::to_string(p.Com), p.Path, p.Device, shown(id.ById), shown(id.Driver),
                     id.VendorId.empty() ? "-" : id.VendorId + ":" + id.ProductId, shown(id.Manufacturer),
                     shown(id.Product), shown(id.SerialNumber)});
    }
    return out;
}

std::string JsonOf(const Outcome& o) {
    QJsonObject root;
    root["command"] = Latin1(o.command);
    if (o.port)
        root["port"] = *o.port;
    if (!o.device.empty())
        root["device"] = QString::fromLocal8Bit(o.device.c_str());
    root["exit"] = o.exit;
    if (!o.errors.empty()) {
        QJsonArray errors;
        for (const auto& e : o.errors)
            errors.append(QString::fromLocal8Bit(e.c_str()));
        root["errors"] = errors;
    }
    if (!o.values.empty()) {
        QJsonArray values;
        for (const ValueRead& v : o.values)
            values.append(QJsonObject{{"letter", Latin1(std::string(1, v.letter))},
                                      {"name", NameOf(v.letter)},
                                      {"value", OptionalText(v.value)}});
        root["values"] = values;
    }
    if (!o.settings.empty()) {
        QJsonArray settings;
        for (const SettingRow& s : o.settings)
            settings.append(QJsonObject{{"name", Latin1(s.name)},
                                        {"wanted", Latin1(s.wanted)},
                                        {"read", OptionalText(s.read)},
                                        {"ok", s.ok()},
                                        {"status", s.Status()}});
        root["settings"] = settings;
    }
    if (o.rttMs)
        root["rttMs"] = *o.rttMs;
    if (o.sent)
        root["sent"] = Latin1(*o.sent);
    if (o.sent || o.received)
        root["received"] = OptionalText(o.received);
    if (o.command == "ports") {
        QJsonArray ports;
        // What sysfs does not say is null.
        const auto known = [](const std::string& field) {
            return field.empty() ? QJsonValue(QJsonValue::Null)
                                 : QJsonValue(QString::fromUtf8(field.c_str()));
        };
        for (const TComPort& p : o.ports) {
            const TPortIdentity& id = p.Identity;
            ports.append(QJsonObject{{"com", p.Com},
                                     {"path", QString::fromLocal8Bit(p.Path.c_str())},
                                     {"device", QString::fromLocal8Bit(p.Device.c_str())},
                                     {"byId", known(id.ById)},
                                     {"driver", known(id.Driver)},
                                     {"vendorId", known(id.VendorId)},
                                     {"productId", known(id.ProductId)},
                                     {"manufacturer", known(id.Manufacturer)},
                                     {"product", known(id.Product)},
                                     {"serial", known(id.SerialNumber)}});
        }
        root["ports"] = ports;
        root["portMap"] = QString::fromLocal8Bit(o.portMap.c_str());
    }
    return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString() + '\n';
}

std::string WatchLine(std::string_view time, std::string_view message, bool json) {
    const auto reply = proto::ParseReply(message);
    const char letter = reply ? reply->letter : 0;
    if (json) {
        QJsonObject line{{"command", "watch"},
                         {"time", Latin1(time)},
                         {"message", Latin1(message)},
                         {"letter", reply ? QJsonValue(Latin1(std::string(1, letter))) : QJsonValue()},
                         {"name", NameOf(letter)},
                         {"value", reply ? QJsonValue(Latin1(reply->value)) : QJsonValue()}};
        return QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString() + '\n';
    }
    if (!reply)
        return Line({time, "", "", Printable(message)});
    return Line(
        {time, Printable(std::string(1, letter)), proto::ParameterName(letter), Printable(reply->value)});
}

std::string LocalTimestamp(long long unixMillis) {
    const std::time_t seconds = static_cast<std::time_t>(unixMillis / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03lld", unixMillis % 1000);
    return text;
}

} // namespace ctl
