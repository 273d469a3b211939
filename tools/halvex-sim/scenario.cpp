#include "scenario.h"

#include <tinyxml2.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <utility>

namespace halvex_sim {
namespace {

using tinyxml2::XMLElement;
using tinyxml2::XMLNode;

// Thrown inside the parser only and turned into the result's error text, so
// every check is one line.
struct ParseError {
    int line;
    std::string problem;
};

template <typename T>
using Names = std::initializer_list<std::pair<const char*, T>>;

const Names<OperStatus> kModemStates = {{"up", OperStatus::Up}, {"dormant", OperStatus::Dormant}};
const Names<OperStatus> kAdapterStates = {
    {"up", OperStatus::Up}, {"down", OperStatus::Down}, {"dormant", OperStatus::Dormant}};
const Names<bool> kYesNo = {{"yes", true}, {"no", false}};
const char* const kModes[] = {"LTE", "WCDMA", "GSM", "LTE_WCDMA"};

// An element and its attributes: attributes outside `known` are refused at
// once; the getters check and convert the rest.
class Element {
public:
    Element(const XMLElement& element, const std::vector<const char*>& known) : m_element(element)
    {
        for (auto* attribute = element.FirstAttribute(); attribute; attribute = attribute->Next()) {
            bool isKnown = false;
            for (const char* name : known) {
                isKnown = isKnown || std::string(name) == attribute->Name();
            }
            if (!isKnown) {
                Fail("unknown attribute \"" + std::string(attribute->Name()) + "\" on " + Tag());
            }
        }
    }

    int Line() const { return m_element.GetLineNum(); }
    std::string Tag() const { return "<" + std::string(m_element.Name()) + ">"; }
    [[noreturn]] void Fail(const std::string& problem) const { throw ParseError{Line(), problem}; }

    bool Has(const char* name) const { return m_element.Attribute(name) != nullptr; }
    std::string Text(const char* name, const std::string& otherwise = "") const
    {
        const char* value = m_element.Attribute(name);
        return value ? value : otherwise;
    }
    std::string Required(const char* name) const
    {
        if (!Has(name)) {
            Fail("missing attribute \"" + std::string(name) + "\" on " + Tag());
        }
        return Text(name);
    }

    // A whole decimal number within [low, high]; `otherwise` when absent.
    int64_t Number(const char* name, int64_t low, int64_t high, int64_t otherwise) const
    {
        if (!Has(name)) {
            return otherwise;
        }
        const std::string text = Text(name);
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || *end != '\0' || errno != 0 ||
            value < low || value > high) {
            Fail("bad number \"" + text + "\" for \"" + name + "\" on " + Tag());
        }
        return value;
    }
    uint32_t Unsigned(const char* name, uint32_t otherwise) const
    {
        return static_cast<uint32_t>(Number(name, 0, std::numeric_limits<uint32_t>::max(), otherwise));
    }
    int32_t Signed(const char* name) const
    {
        Required(name);
        return static_cast<int32_t>(
            Number(name, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0));
    }

    template <typename T>
    T Choice(const char* name, Names<T> names, T otherwise) const
    {
        if (!Has(name)) {
            return otherwise;
        }
        const std::string text = Text(name);
        for (const auto& [word, value] : names) {
            if (text == word) {
                return value;
            }
        }
        Fail("unknown value \"" + text + "\" for \"" + name + "\" on " + Tag());
    }
    template <typename T>
    T RequiredChoice(const char* name, Names<T> names) const
    {
        Required(name);
        return Choice(name, names, names.begin()->second);
    }

    // Child elements; any text but blanks between them is refused.
    std::vector<const XMLElement*> Children() const
    {
        std::vector<const XMLElement*> children;
        for (const XMLNode* node = m_element.FirstChild(); node; node = node->NextSibling()) {
            if (const XMLElement* child = node->ToElement()) {
                children.push_back(child);
            } else if (node->ToText() && !IsBlank(node->Value())) {
                throw ParseError{node->GetLineNum(), "unexpected text in " + Tag()};
            }
        }
        return children;
    }
    void NoChildren() const
    {
        const std::vector<const XMLElement*> children = Children();
        if (!children.empty()) {
            UnknownChild(*children.front());
        }
    }
    static bool IsBlank(const std::string& text)
    {
        for (char c : text) {
            if (!std::isspace(static_cast<unsigned char>(c))) {
                return false;
            }
        }
        return true;
    }
    [[noreturn]] void UnknownChild(const XMLElement& child) const
    {
        throw ParseError{child.GetLineNum(), "unknown element <" + std::string(child.Name()) + "> in " + Tag()};
    }

    const XMLElement& Xml() const { return m_element; }

private:
    const XMLElement& m_element;
};

bool Is(const XMLElement& element, const char* name) { return std::string(element.Name()) == name; }

SarRow ReadSar(const XMLElement& xml)
{
    Element e(xml, {"mode", "band", "maxpower", "rowgrads", "columngrads"});
    e.NoChildren();
    SarRow row;
    row.mode = e.Required("mode");
    bool known = false;
    for (const char* mode : kModes) {
        known = known || row.mode == mode;
    }
    if (!known) {
        e.Fail("unknown value \"" + row.mode + "\" for \"mode\" on " + e.Tag());
    }
    const bool banded = row.mode == "LTE" || row.mode == "WCDMA";
    if (banded) {
        row.band = e.Signed("band");
    } else if (e.Has("band")) {
        e.Fail("\"band\" on " + e.Tag() + " is only for LTE and WCDMA");
    }
    row.maxpower = e.Signed("maxpower");
    row.rowgrads = e.Signed("rowgrads");
    row.columngrads = e.Signed("columngrads");
    return row;
}

std::array<uint8_t, 16> ReadUuid(const Element& e)
{
    std::string digits;
    for (char c : e.Text("uuid")) {
        if (c != '-') {
            digits += c;
        }
    }
    if (digits.size() != 32 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        e.Fail("bad uuid \"" + e.Text("uuid") + "\" on <laptop>: 32 hexadecimal digits expected");
    }
    std::array<uint8_t, 16> uuid{};
    for (size_t i = 0; i < uuid.size(); ++i) {
        uuid[i] = static_cast<uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    }
    return uuid;
}

Laptop ReadLaptop(const XMLElement& xml)
{
    Element e(xml, {"version", "family", "processor", "manufacturer", "product", "serial", "sku", "uuid"});
    e.NoChildren();
    Laptop laptop;
    laptop.version = e.Text("version");
    laptop.family = e.Text("family");
    laptop.processor = e.Text("processor");
    laptop.manufacturer = e.Text("manufacturer");
    laptop.product = e.Text("product");
    laptop.serial = e.Text("serial");
    laptop.sku = e.Text("sku");
    if (e.Has("uuid")) {
        laptop.uuid = ReadUuid(e);
    }
    return laptop;
}

LoggingSwitch ReadLogging(const XMLElement& xml)
{
    Element e(xml, {"isall", "isall-string"});
    e.NoChildren();
    if (e.Has("isall") == e.Has("isall-string")) {
        e.Fail("<logging> takes one of \"isall\" and \"isall-string\"");
    }
    LoggingSwitch logging;
    if (e.Has("isall")) {
        logging.isAll = e.Unsigned("isall", 0);
    } else {
        logging.isAllString = e.Text("isall-string");
    }
    return logging;
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The bytes of a regular file; none for a folder or anything that cannot be read.
std::optional<std::string> ReadFile(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The DPRConfig.xml bytes: from a file, a CDATA section (kept as written) or
// the one child element serialised back to text.
std::string ReadDprConfig(const XMLElement& xml, const std::string& scenarioPath)
{
    Element e(xml, {"file"});
    std::vector<const XMLNode*> content;
    for (const XMLNode* node = xml.FirstChild(); node; node = node->NextSibling()) {
        const bool blank = node->ToText() && !node->ToText()->CData() && Element::IsBlank(node->Value());
        if (!blank && !node->ToComment()) {
            content.push_back(node);
        }
    }
    if (e.Has("file")) {
        if (!content.empty()) {
            e.Fail("<dprconfig> has both \"file\" and content");
        }
        const std::string file = e.Text("file");
        if (file.empty()) {
            e.Fail("empty \"file\" on <dprconfig>");
        }
        const std::string path = !file.empty() && file[0] == '/' ? file : DirectoryOf(scenarioPath) + file;
        std::optional<std::string> bytes = ReadFile(path);
        if (!bytes) {
            e.Fail("cannot read \"" + path + "\" (a file is needed)");
        }
        return *bytes;
    }
    const tinyxml2::XMLText* cdata = content.size() == 1 ? content[0]->ToText() : nullptr;
    if (content.size() != 1 || !(content[0]->ToElement() || (cdata && cdata->CData()))) {
        e.Fail("<dprconfig> holds one element or one CDATA section");
    }
    if (cdata) {
        return cdata->Value();
    }
    tinyxml2::XMLPrinter printer;
    content[0]->Accept(&printer);
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n") + printer.CStr();
}

Modem ReadModem(const XMLElement& xml)
{
    Element e(xml, {"interface", "vid", "pid", "state", "ipv4", "latency-ms", "away-ms"});
    Modem modem;
    modem.interfaceId = e.Text("interface");
    modem.vendorId = e.Text("vid");
    modem.productId = e.Text("pid");
    modem.state = e.Choice("state", kModemStates, modem.state);
    modem.ipv4 = e.Choice("ipv4", kYesNo, modem.ipv4);
    modem.latencyMs = e.Unsigned("latency-ms", modem.latencyMs);
    modem.awayMs = e.Unsigned("away-ms", modem.awayMs);
    for (const XMLElement* child : e.Children()) {
        if (!Is(*child, "sar")) {
            e.UnknownChild(*child);
        }
        const SarRow row = ReadSar(*child);
        for (const SarRow& earlier : modem.sar) {
            if (earlier.mode == row.mode && earlier.band == row.band) {
                // The modem holds one row per mode (and band): a second would only overwrite the first.
                throw ParseError{child->GetLineNum(), "second <sar> for " + RowKey(row) + " in <modem>"};
            }
        }
        modem.sar.push_back(row);
    }
    return modem;
}

Adapter ReadAdapter(const XMLElement& xml)
{
    Element e(xml, {"name", "type", "status", "instance", "ipv4"});
    e.NoChildren();
    Adapter adapter;
    adapter.name = e.Required("name");
    adapter.ifType = e.Unsigned("type", adapter.ifType);
    adapter.status = e.Choice("status", kAdapterStates, adapter.status);
    adapter.instance = e.Text("instance");
    adapter.ipv4 = e.Choice("ipv4", kYesNo, adapter.ipv4);
    return adapter;
}

// Per fault kind: its name and the attributes it takes beside "what".
struct FaultKind {
    const char* name;
    Fault::What what;
    std::vector<const char*> attributes;
};
const FaultKind kFaultKinds[] = {
    {"class", Fault::What::Class, {"class", "count"}},
    {"advise", Fault::What::Advise, {"sink", "count"}},
    {"context", Fault::What::Context, {"count"}},
    {"device-service", Fault::What::DeviceService, {"count"}},
    {"open", Fault::What::Open, {"action", "count"}},
    {"command", Fault::What::Command, {"action", "match", "count", "late-ms"}},
    {"reply", Fault::What::Reply, {"action", "match", "count"}},
    {"reboot", Fault::What::Reboot, {"action", "count"}},
    {"power-register", Fault::What::PowerRegister, {}},
    {"scm-open", Fault::What::ScmOpen, {}},
    {"scm-service", Fault::What::ScmService, {}},
    {"scm-query", Fault::What::ScmQuery, {}},
    {"shell", Fault::What::Shell, {}},
};

Names<Fault::Action> ActionsOf(Fault::What what)
{
    using A = Fault::Action;
    static const Names<A> open = {{"fail", A::Fail}, {"error", A::Error}, {"silent", A::Silent}};
    static const Names<A> command = {
        {"fail", A::Fail}, {"error", A::Error}, {"silent", A::Silent}, {"late", A::Late}};
    static const Names<A> reply = {
        {"lowercase", A::LowerCase}, {"quoted", A::Quoted}, {"garbage", A::Garbage}, {"oversize", A::Oversize}};
    static const Names<A> reboot = {{"refuse", A::Refuse}};
    switch (what) {
    case Fault::What::Open: return open;
    case Fault::What::Command: return command;
    case Fault::What::Reply: return reply;
    default: return reboot;
    }
}

Fault ReadFault(const XMLElement& xml)
{
    const char* whatText = xml.Attribute("what");
    const FaultKind* kind = nullptr;
    for (const FaultKind& candidate : kFaultKinds) {
        if (whatText && std::string(whatText) == candidate.name) {
            kind = &candidate;
        }
    }
    if (!whatText) {
        throw ParseError{xml.GetLineNum(), "missing attribute \"what\" on <fault>"};
    }
    if (!kind) {
        throw ParseError{xml.GetLineNum(), "unknown fault kind \"" + std::string(whatText) + "\""};
    }
    std::vector<const char*> known = kind->attributes;
    known.push_back("what");
    Element e(xml, known);
    e.NoChildren();

    Fault fault;
    fault.what = kind->what;
    fault.count = static_cast<int>(e.Number("count", 1, std::numeric_limits<int>::max(), -1));
    fault.match = e.Text("match");
    fault.lateMs = e.Unsigned("late-ms", fault.lateMs);
    switch (fault.what) {
    case Fault::What::Class:
        fault.managerClass = e.RequiredChoice<Fault::ManagerClass>(
            "class", {{"interface", Fault::ManagerClass::Interface},
                      {"connection", Fault::ManagerClass::Connection},
                      {"device-services", Fault::ManagerClass::DeviceServices}});
        break;
    case Fault::What::Advise:
        fault.sink = e.RequiredChoice<Fault::Sink>(
            "sink", {{"connection", Fault::Sink::Connection},
                     {"interface-manager", Fault::Sink::InterfaceManager},
                     {"interface", Fault::Sink::Interface},
                     {"device-services", Fault::Sink::DeviceServices},
                     {"registration", Fault::Sink::Registration}});
        break;
    case Fault::What::Open:
    case Fault::What::Command:
    case Fault::What::Reply:
        fault.action = e.RequiredChoice("action", ActionsOf(fault.what));
        break;
    case Fault::What::Reboot:
        fault.action = e.Choice("action", ActionsOf(fault.what), Fault::Action::Refuse);
        break;
    default:
        break;
    }
    if (e.Has("late-ms") && fault.action != Fault::Action::Late) {
        e.Fail("\"late-ms\" on <fault> is only for action \"late\"");
    }
    return fault;
}

Step ReadStep(const XMLElement& xml)
{
    using K = Step::Kind;
    static const Names<K> simple = {
        {"start", K::Start},   {"suspend", K::Suspend}, {"resume", K::Resume},     {"unplug", K::Unplug},
        {"plug", K::Plug},     {"pause", K::Pause},     {"continue", K::Continue}, {"crash", K::Crash},
        {"stop", K::Stop},
    };
    Step step;
    step.line = xml.GetLineNum();
    for (const auto& [name, kind] : simple) {
        if (Is(xml, name)) {
            Element(xml, {}).NoChildren();
            step.kind = kind;
            return step;
        }
    }
    if (Is(xml, "settle")) {
        Element e(xml, {"timeout-ms"});
        e.NoChildren();
        step.kind = K::Settle;
        step.ms = e.Unsigned("timeout-ms", 60000);
    } else if (Is(xml, "wait")) {
        Element e(xml, {"ms"});
        e.NoChildren();
        step.kind = K::Wait;
        e.Required("ms");
        step.ms = e.Unsigned("ms", 0);
    } else if (Is(xml, "power")) {
        Element e(xml, {"event"});
        e.NoChildren();
        step.kind = K::Power;
        e.Required("event");
        step.powerEvent = e.Unsigned("event", 0);
    } else if (Is(xml, "modem-state")) {
        Element e(xml, {"state"});
        e.NoChildren();
        step.kind = K::ModemState;
        step.modemState = e.RequiredChoice("state", kModemStates);
    } else if (Is(xml, "modem-sar")) {
        step.kind = K::ModemSar;
        step.sar = ReadSar(xml);
    } else if (Is(xml, "fault")) {
        step.kind = K::Fault;
        step.fault = ReadFault(xml);
    } else {
        throw ParseError{xml.GetLineNum(), "unknown element <" + std::string(xml.Name()) + "> in <timeline>"};
    }
    return step;
}

Expectation ReadExpectation(const XMLElement& xml)
{
    using K = Expectation::Kind;
    static const std::pair<const char*, K> counts[] = {
        {"reboots", K::Reboots}, {"sets", K::Sets},   {"queries", K::Queries},   {"pins", K::Pins},
        {"starts", K::Starts},   {"restarts", K::Restarts}, {"dumps", K::Dumps},
    };
    Expectation expectation;
    expectation.line = xml.GetLineNum();
    for (const auto& [name, kind] : counts) {
        if (Is(xml, name)) {
            Element e(xml, {"count"});
            e.NoChildren();
            e.Required("count");
            expectation.kind = kind;
            expectation.count = e.Unsigned("count", 0);
            return expectation;
        }
    }
    if (Is(xml, "sar")) {
        expectation.kind = K::Sar;
        expectation.sar = ReadSar(xml);
    } else if (Is(xml, "log")) {
        Element e(xml, {"contains", "lacks"});
        e.NoChildren();
        if (e.Has("contains") == e.Has("lacks")) {
            e.Fail("<log> takes one of \"contains\" and \"lacks\"");
        }
        expectation.kind = e.Has("contains") ? K::LogContains : K::LogLacks;
        expectation.text = e.Has("contains") ? e.Text("contains") : e.Text("lacks");
    } else if (Is(xml, "status")) {
        Element e(xml, {"states"});
        e.NoChildren();
        expectation.kind = K::Status;
        std::stringstream list(e.Required("states"));
        for (std::string item; std::getline(list, item, ',');) {
            if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos || item.size() > 9) {
                e.Fail("bad number \"" + item + "\" for \"states\" on <status>");
            }
            expectation.states.push_back(static_cast<uint32_t>(std::stoul(item)));
        }
    } else if (Is(xml, "restart")) {
        Element e(xml, {"contains"});
        e.NoChildren();
        expectation.kind = K::Restart;
        expectation.text = e.Required("contains");
    } else if (Is(xml, "verdict")) {
        Element e(xml, {"is"});
        e.NoChildren();
        expectation.kind = K::Verdict;
        expectation.text = e.Required("is");
        if (expectation.text != "configured" && expectation.text != "already-right" &&
            expectation.text != "not-configured") {
            e.Fail("unknown value \"" + expectation.text + "\" for \"is\" on <verdict>");
        }
    } else if (Is(xml, "exit")) {
        Element e(xml, {"code"});
        e.NoChildren();
        expectation.kind = K::Exit;
        expectation.exitCode = e.Signed("code");
    } else {
        throw ParseError{xml.GetLineNum(), "unknown element <" + std::string(xml.Name()) + "> in <expect>"};
    }
    return expectation;
}

Scenario ReadScenario(const XMLElement& root, const std::string& fileName)
{
    if (!Is(root, "scenario")) {
        throw ParseError{root.GetLineNum(), "the root element is <" + std::string(root.Name()) + ">, not <scenario>"};
    }
    Element e(root, {"name", "restart-limit"});
    Scenario scenario;
    scenario.name = e.Required("name");
    scenario.restartLimit = e.Unsigned("restart-limit", scenario.restartLimit);

    bool seenTimeline = false;
    std::vector<std::string> seen;
    for (const XMLElement* child : e.Children()) {
        const std::string name = child->Name();
        if (name != "adapter") {
            for (const std::string& earlier : seen) {
                if (earlier == name) {
                    throw ParseError{child->GetLineNum(), "second <" + name + "> in <scenario>"};
                }
            }
            seen.push_back(name);
        }
        if (name == "laptop") {
            scenario.laptop = ReadLaptop(*child);
        } else if (name == "logging") {
            scenario.logging = ReadLogging(*child);
        } else if (name == "dprconfig") {
            scenario.dprConfig = ReadDprConfig(*child, fileName);
        } else if (name == "modem") {
            scenario.modem = ReadModem(*child);
            scenario.modemPosition = scenario.adapters.size();
        } else if (name == "adapter") {
            scenario.adapters.push_back(ReadAdapter(*child));
        } else if (name == "timeline") {
            seenTimeline = true;
            Element timeline(*child, {});
            for (const XMLElement* step : timeline.Children()) {
                scenario.timeline.push_back(ReadStep(*step));
            }
        } else if (name == "expect") {
            Element expect(*child, {});
            for (const XMLElement* item : expect.Children()) {
                scenario.expectations.push_back(ReadExpectation(*item));
            }
        } else {
            e.UnknownChild(*child);
        }
    }
    if (!seenTimeline) {
        e.Fail("<timeline> missing in <scenario>");
    }
    return scenario;
}

}  // namespace

std::string RowKey(const SarRow& row)
{
    return row.band ? row.mode + " band " + std::to_string(*row.band) : row.mode;
}

ScenarioResult ParseScenario(const std::string& text, const std::string& fileName)
{
    ScenarioResult result;
    tinyxml2::XMLDocument document;
    if (document.Parse(text.c_str(), text.size()) != tinyxml2::XML_SUCCESS) {
        result.error = fileName + ":" + std::to_string(document.ErrorLineNum()) + ": not well-formed XML (" +
                       document.ErrorName() + ")";
        return result;
    }
    if (!document.RootElement()) {
        result.error = fileName + ":1: no <scenario> element";
        return result;
    }
    try {
        result.scenario = ReadScenario(*document.RootElement(), fileName);
    } catch (const ParseError& error) {
        result.error = fileName + ":" + std::to_string(error.line) + ": " + error.problem;
    }
    return result;
}

ScenarioResult LoadScenario(const std::string& path)
{
    std::optional<std::string> text = ReadFile(path);
    if (!text) {
        return {std::nullopt, path + ": cannot read the file"};
    }
    return ParseScenario(*text, path);
}

}  // namespace halvex_sim
