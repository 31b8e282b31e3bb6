// The host's profile read and written through MSXML by the module in the
// DLL: the cases of the Linux profile tests that hold for MSXML, compared by
// meaning (Wine's MSXML rewrites line ends, quotes and empty elements).
#include <algorithm>

#include "default_keys.h"
#include "dll_host.h"

namespace k2t::dll_host {
namespace {

constexpr const char* kSection = "iTalvo_K2T_Pendant";

// The section as Config leaves it: the keys it held first, in their order
// and with the values written back, then the other keys of the 84 in order
// with their defaults.
std::string AllKeys(const std::vector<std::pair<std::string, std::string>>& held = {}) {
  std::string out;
  for (const auto& [name, value] : held) out += "<" + name + ">" + value + "</" + name + ">";
  for (const auto& [name, value] : test_support::kDefaultKeys) {
    const bool was_held =
        std::any_of(held.begin(), held.end(), [name = name](const auto& h) { return h.first == name; });
    if (!was_held) out += "<" + std::string(name) + ">" + std::string(value) + "</" + std::string(name) + ">";
  }
  return out;
}

std::string Section(const std::string& body) { return std::string("<") + kSection + ">" + body + "</" + kSection + ">"; }

enum class Steps { kSetProName, kStart, kStartAndConfig };

TEST_F(DllTest, ProfileKeepsItsMeaning) {
  const std::string host_part =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- host profile -->\r\n"
      "<profile>\r\n"
      "  <Preferences Lang='en' Note='say \"hi\"'>\r\n"
      "    <Name>Mill &amp; Lathe &#65; &gt; \xC3\xA9t\xC3\xA9</Name>\r\n"
      "    <?app keep me?>\r\n"
      "    <![CDATA[raw <data>]]>\r\n"
      "  </Preferences>\r\n"
      "  <Empty></Empty>\r\n";
  const struct {
    const char* name;
    const char* before;  // null: no file
    Steps steps;
    std::string after;
  } cases[] = {
      {"a missing file comes into existence", nullptr, Steps::kSetProName, "<profile/>"},
      {"the host's content survives a load and save", nullptr, Steps::kSetProName, host_part + "</profile>\r\n"},
      {"Config appends the section, every key in order", "<profile><Host/></profile>", Steps::kStartAndConfig,
       "<profile><Host/>" + Section(AllKeys()) + "</profile>"},
      {"the host's content around the appended section", nullptr, Steps::kStartAndConfig,
       host_part + Section(AllKeys()) + "</profile>\r\n"},
      {"only the first of two sections", "<profile><iTalvo_K2T_Pendant><Vel>7</Vel></iTalvo_K2T_Pendant>"
                                         "<iTalvo_K2T_Pendant><Vel>1</Vel></iTalvo_K2T_Pendant></profile>",
       Steps::kStartAndConfig,
       "<profile>" + Section(AllKeys({{"Vel", "7"}})) +
           "<iTalvo_K2T_Pendant><Vel>1</Vel></iTalvo_K2T_Pendant></profile>"},
      {"keys read as the key rules say; texts keep characters beyond the code page",
       "<profile><iTalvo_K2T_Pendant><Macro1>70000</Macro1><OEM1>12abc</OEM1><OEM2>abc</OEM2>"
       "<DelaySteps> 42</DelaySteps><S1></S1><S2>0.5</S2><Fun1>Spindel \xC3\xA9 \xCE\xA9</Fun1></iTalvo_K2T_Pendant></profile>",
       Steps::kStartAndConfig,
       "<profile>" +
           Section(AllKeys({{"Macro1", "4464"}, {"OEM1", "12"}, {"OEM2", "0"}, {"DelaySteps", "42"},
                            {"S2", "0.5"}, {"Fun1", "Spindel \xC3\xA9 \xCE\xA9"}})) +
           "</profile>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    const std::string before = c.before ? c.before : (c.after.rfind(host_part, 0) == 0 ? host_part + "</profile>\r\n" : "");
    if (!before.empty()) WriteFile(profile_, before);
    if (c.steps == Steps::kSetProName) {
      api.SetProName(profile_.c_str());
    } else {
      Start();
      if (c.steps == Steps::kStartAndConfig) Config();
    }
    const std::string expected = XmlMeaning(c.after);
    ASSERT_NE(expected, "unparseable");
    EXPECT_EQ(XmlMeaning(ReadFile(profile_)), expected);
    api.StopPlug();
  }
}

TEST_F(DllTest, ProfileKeyRulesReachTheModule) {
  WriteFile(profile_, "<profile>" + Section("<S2> 1.5mm</S2><Vel>7</Vel>") + "</profile>");
  Start();
  EXPECT_EQ(g_host->dros[828], 1.5);
  Config();
  // Config reloads: "Vel" as stored.
  EXPECT_NE(ReadFile(profile_).find("<Vel>7</Vel>"), std::string::npos);
  api.StopPlug();
}

// Config says so (a message box naming the file) when the settings do not
// reach the profile; start-up stays silent.
TEST_F(DllTest, ProfilesThatCannotBeWrittenOverStayAsTheyAre) {
  const auto says = [](const std::vector<std::string>& shown, const std::string& file) {
    return shown.size() == 1 && shown[0].find(file) != std::string::npos;
  };
  const std::string broken = "<profile><Open></profile>";
  WriteFile(profile_, broken);
  Start();
  EXPECT_TRUE(says(Config(), profile_));
  api.StopPlug();
  EXPECT_EQ(ReadFile(profile_), broken);
  // No profile name, or a folder that does not exist: nothing is written.
  const std::string missing = dir_ + "\\no\\such\\folder\\p.xml";
  Start(missing.c_str());
  const std::vector<std::string> shown = Config();
  EXPECT_TRUE(says(shown, missing)) << (shown.empty() ? "no message" : shown[0]);
  api.StopPlug();
  EXPECT_EQ(::GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  Start("");
  EXPECT_TRUE(Config().empty());
  api.StopPlug();
  // Nothing but the profile in the folder: no temporary file left behind.
  WIN32_FIND_DATAA entry;
  HANDLE find = ::FindFirstFileA((dir_ + "\\*").c_str(), &entry);
  std::vector<std::string> names;
  do {
    if (std::string(entry.cFileName) != "." && std::string(entry.cFileName) != "..") names.push_back(entry.cFileName);
  } while (::FindNextFileA(find, &entry));
  ::FindClose(find);
  EXPECT_EQ(names, std::vector<std::string>{"profile.xml"});
}

}  // namespace
}  // namespace k2t::dll_host
