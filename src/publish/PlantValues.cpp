// What the plant sends and what the publisher makes of it: topic levels, the allowed writes, the
// credentials file, a set payload read by the registry, and the write itself through the link.
#include "publish/Publisher.h"

#include "link/IxaInterface.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using Json = nlohmann::json;

std::string TopicLevel(const std::string& text) {
    std::string level;
    level.reserve(text.size());
    for (unsigned char c : text)
        level += (c <= ' ' || c > '~' || c == '+' || c == '#' || c == '/') ? '_' : char(c);
    return level.empty() ? "_" : level;
}

std::string UnitLevel(const std::string& port, int address) {
    std::string name = port;
    // "/dev/ttyUSB0" reads better as "ttyUSB0" than as "_dev_ttyUSB0".
    if (name.rfind("/dev/", 0) == 0)
        name.erase(0, 5);
    return TopicLevel(name + "-" + std::to_string(address));
}

std::string DefaultRoot() {
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0 || !*host)
        std::strcpy(host, "localhost");
    return "korva/" + TopicLevel(host);
}

std::vector<std::string> ParseAllowedWrites(const std::string& list) {
    std::vector<std::string> allowed;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        std::string name = list.substr(start, end - start);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
            name.erase(0, 1);
        for (char& c : name)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        const TIxaParameter* p = FindIxaMnemonic(name);
        if (!p)
            throw EPublish("--allow-writes: \"" + name + "\" is no parameter's mnemonic");
        if (!p->Writable())
            throw EPublish("--allow-writes: " + name + " can only be read");
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
            allowed.push_back(name);
        start = end + 1;
    }
    return allowed;
}

TCredentials ReadCredentials(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw EPublish("Cannot read the credentials file " + file + ": " + std::strerror(errno));
    struct TClose {
        int Fd;
        ~TClose() { ::close(Fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw EPublish("The credentials file " + file + " is no regular file");
    // A password others can read is no secret; one others can change is no credential.
    if (st.st_mode & (S_IRWXO | S_IWGRP))
        throw EPublish("The credentials file " + file +
                       " may be read or changed by others: refused (chmod 600 or 640 it)");
    if (st.st_size > 4096)
        throw EPublish("The credentials file " + file + " is larger than 4096 bytes");
    std::string text(size_t(st.st_size), '\0');
    if (::read(fd, text.data(), text.size()) != ssize_t(text.size()))
        throw EPublish("Cannot read the credentials file " + file);
    TCredentials credentials;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : line.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
        if (key == "username")
            credentials.UserName = value;
        else if (key == "password")
            credentials.Password = value;
        else
            throw EPublish("The credentials file " + file + " holds a line of no known key: \"" + key + "\"");
    }
    if (credentials.UserName.empty())
        throw EPublish("The credentials file " + file + " names no user (username=NAME)");
    return credentials;
}

const char* PlantEventName(TPlantEvent kind) {
    switch (kind) {
    case TPlantEvent::LinkLost:
        return "link-lost";
    case TPlantEvent::LinkRegained:
        return "link-regained";
    case TPlantEvent::ConfigurationDownloaded:
        return "configuration-downloaded";
    case TPlantEvent::BackupTaken:
        return "backup-taken";
    case TPlantEvent::SavedToController:
        return "saved-to-controller";
    case TPlantEvent::ErrorReply:
        return "error-reply";
    case TPlantEvent::OperatorCommand:
        return "operator-command";
    }
    return "unknown";
}

const char* PublisherStateName(TPublisherState state) {
    switch (state) {
    case TPublisherState::Stopped:
        return "stopped";
    case TPublisherState::Connecting:
        return "connecting";
    case TPublisherState::Connected:
        return "connected";
    case TPublisherState::Refused:
        return "refused";
    }
    return "unknown";
}

namespace {

// The value's text as a person would have typed it, for the registry's whole-text rules.
std::string ValueText(const TIxaParameter& p, const Json& value) {
    // A text goes as UTF-8: the registry turns it into the controller's bytes or refuses it.
    if (value.is_string())
        return value.get_ref<const std::string&>();
    if (value.is_boolean()) {
        if (p.Kind != TIxaValueKind::Flag)
            throw EPublish(std::string(p.Mnemonic) + " takes no true/false: it is a " +
                           (p.Kind == TIxaValueKind::Text ? "text" : "number"));
        return value.get<bool>() ? "1" : "0";
    }
    if (value.is_number()) {
        if (p.Kind == TIxaValueKind::Text)
            throw EPublish(std::string(p.Mnemonic) + " is a text: give it as a JSON string");
        // Integers as they are; a real as its shortest exact text, which the three-decimal rule judges.
        return value.dump();
    }
    throw EPublish(std::string(p.Mnemonic) + ": the value must be a number, a string or true/false");
}

} // namespace

TPlantCommand ParsePlantCommand(const TIxaParameter& p, std::string_view payload) {
    if (payload.size() > MaxPayload)
        throw EPublish("The payload is longer than " + std::to_string(MaxPayload) + " bytes");
    const Json json = Json::parse(payload.begin(), payload.end(), nullptr, false);
    if (json.is_discarded())
        throw EPublish("The payload is no JSON");
    const Json* value = &json;
    TPlantCommand command;
    if (json.is_object()) {
        for (const auto& item : json.items())
            if (item.key() != "value" && item.key() != "index")
                throw EPublish("The payload holds an unknown member \"" + TopicLevel(item.key()) + "\"");
        if (!json.contains("value"))
            throw EPublish("The payload names no value");
        value = &json["value"];
        if (json.contains("index")) {
            const Json& index = json["index"];
            if (!index.is_number_integer())
                throw EPublish("The index must be a whole number");
            const auto n = index.get<int64_t>();
            if (n < 0 || n > std::numeric_limits<int>::max())
                throw EIxaValue(std::string(p.Mnemonic) + ": index " + index.dump() + " is out of range");
            command.Index = int(n);
        }
    }
    if (p.Indexed() && command.Index < 0)
        throw EPublish(std::string(p.Mnemonic) + " needs an index: {\"index\": N, \"value\": ...}");
    if (p.Indexed())
        CheckIxaIndex(p, command.Index);
    else if (command.Index >= 0)
        throw EPublish(std::string(p.Mnemonic) + " takes no index");
    command.Value = ParseIxaValue(p, ValueText(p, *value));
    return command;
}

TPlantWriteResult ExecutePlantWrite(TIxaInterface& link, const TPlantWrite& write) {
    TPlantWriteResult result;
    if (!write.Parameter) {
        result.Error = "no parameter";
        return result;
    }
    const TIxaParameter& p = *write.Parameter;
    TTrafficOriginScope origin(TTrafficOrigin::Plant);
    TLinkLock lock(link);
    // Another unit of the line is borrowed for the write, as the bus poller borrows it; the panel's
    // unit keeps its address and is not taken offline by another unit's silence.
    const int savedAddress = link.Address;
    const int address = write.Address < 0 ? savedAddress : write.Address;
    const bool savedConnected = link.Connected;
    struct TGiveBack {
        TIxaInterface& Link;
        int Address;
        bool Connected;
        bool Borrowed;
        ~TGiveBack() {
            if (Borrowed) {
                Link.Address = Address;
                Link.Connected = Connected;
            }
        }
    } giveBack{link, savedAddress, savedConnected, address != savedAddress};
    try {
        link.Address = address;
        if (giveBack.Borrowed)
            link.Connected = true;
        if (const auto upper = ControllerUpperEnd(link, p)) {
            const double low = p.HasRange() ? p.Low : -std::numeric_limits<double>::infinity();
            link.GetEnglishUnits();
            const std::string units = p.Unit == TIxaUnit::None ? "" : IxaUnitText(p.Unit, link.EnglishUnits);
            CheckIxaRange(p, write.Value.Number, low, upper->first, units, upper->second);
        }
        const std::string name = p.Mnemonic;
        switch (p.Kind) {
        case TIxaValueKind::Text:
            link.SetStringProp(name, write.Value.Text);
            break;
        case TIxaValueKind::Int:
        case TIxaValueKind::Flag:
            if (p.Indexed())
                link.SetIntArrayProp(name, write.Index, static_cast<int>(write.Value.Number));
            else
                link.SetIntProp(name, static_cast<int>(write.Value.Number));
            break;
        case TIxaValueKind::Real:
            if (p.Indexed())
                link.SetRealArrayProp(name, write.Index, write.Value.Number);
            else
                link.SetRealProp(name, write.Value.Number);
            break;
        }
        result.Ok = true;
    } catch (const EIxa& e) {
        result.Error = e.Described();
    } catch (const std::exception& e) {
        result.Error = e.what();
    }
    return result;
}
