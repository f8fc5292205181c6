#include "overlay/ring_settings.h"

#include "overlay/key_names.h"
#include "platform/file_reading.h"

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <charconv>
#include <cstdio>
#include <cstring>

namespace overlay {
namespace {

constexpr const char* section_name = "Rings";
constexpr std::size_t max_problem_lines = 20;

// A key's text as a log line may show it: printable, and not too long.
std::string shown(const char* text) {
  std::string out;
  for (const char* p = text; *p && out.size() < 64; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    out.push_back(c >= 0x20 && c != 0x7F ? static_cast<char>(c) : '?');
  }
  return out;
}

// A plain decimal number ("25", "0.5", "2.50"), the same in every locale. At
// most 15 digits, so that the whole mantissa is exact in a double and one
// division rounds it.
bool parse_float(const std::string& text, float low, float high, float* value) {
  double mantissa = 0.0, scale = 1.0;
  int digits = 0;
  bool point = false;
  for (const char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9' && ++digits <= 15) {
      mantissa = mantissa * 10.0 + (c - '0');
      if (point) scale *= 10.0;
    } else {
      return false;
    }
  }
  if (digits == 0 || digits > 15) return false;
  const float v = static_cast<float>(mantissa / scale);
  if (!(v >= low && v <= high)) return false;
  *value = v;
  return true;
}

bool parse_int(const std::string& text, int low, int high, int* value, int base = 10) {
  int v = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, v, base);
  if (text.empty() || error != std::errc() || at != end || v < low || v > high) return false;
  *value = v;
  return true;
}

bool parse_flag(const std::string& text, bool* value) {
  if (text != "0" && text != "1") return false;
  *value = text == "1";
  return true;
}

bool parse_colour(const std::string& text, std::uint8_t* rgb) {
  int channel[3];
  std::size_t begin = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t comma = i < 2 ? text.find(',', begin) : text.size();
    if (comma == std::string::npos) return false;
    std::string part = text.substr(begin, comma - begin);
    part.erase(0, part.find_first_not_of(" \t"));
    part.erase(part.find_last_not_of(" \t") + 1);
    if (!parse_int(part, 0, 255, &channel[i])) return false;
    begin = comma + 1;
  }
  for (int i = 0; i < 3; ++i) rgb[i] = static_cast<std::uint8_t>(channel[i]);
  return true;
}

using kind = value_kind;

bool read_flag(bool* out, const std::string& t) { return parse_flag(t, out); }
bool read_number(const setting_key& k, float* out, const std::string& t) { return parse_float(t, k.low, k.high, out); }
bool read_whole(const setting_key& k, int* out, const std::string& t) {
  return parse_int(t, static_cast<int>(k.low), static_cast<int>(k.high), out);
}

}  // namespace

const setting_key setting_keys[23] = {
    {"Enabled", kind::flag, 0, 1, "1", "1: rings shown when the game starts; 0: hidden until you press ToggleKey.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.enabled, t); }},
    {"ToggleKey", kind::key, 0x01, 0xFE, "",
     "Key that shows and hides the rings: F1-F12, A-Z, 0-9, NumPad0-NumPad9, Insert, Delete, Home, End, PageUp, "
     "PageDown, or a code such as 0x76. Empty: no key.",
     [](const setting_key&, const std::string& t, ring_settings& s) {
       const std::optional<int> code = t.empty() ? std::optional<int>(0) : key_code(t);
       if (!code) return false;
       s.toggle_key = *code;
       return true;
     }},
    {"Range", kind::number, 1, 200, "25", "How far from you a pedestrian gets a ring, in world units (1 to 200).",
     [](const setting_key& k, const std::string& t, ring_settings& s) { return read_number(k, &s.range, t); }},
    {"HeightRange", kind::number, 0.5f, 50, "6", "How far above or below you, in world units (0.5 to 50).",
     [](const setting_key& k, const std::string& t, ring_settings& s) { return read_number(k, &s.height_range, t); }},
    {"Radius", kind::number, 0.25f, 4, "1", "The ring's radius in world units (0.25 to 4).",
     [](const setting_key& k, const std::string& t, ring_settings& s) { return read_number(k, &s.radius, t); }},
    {"Opacity", kind::whole, 0, 255, "255", "How opaque the rings are, 0 (invisible) to 255 (solid).",
     [](const setting_key& k, const std::string& t, ring_settings& s) {
       int v = 0;
       if (!read_whole(k, &v, t)) return false;
       s.opacity = static_cast<std::uint32_t>(v);
       return true;
     }},
    {"FullHealthColour", kind::colour, 0, 255, "0,255,0",
     "Colour of the health arc at full health, as red,green,blue from 0 to 255.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return parse_colour(t, s.full_health); }},
    {"LowHealthColour", kind::colour, 0, 255, "255,0,0", "Colour it shades to as health falls towards zero.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return parse_colour(t, s.low_health); }},
    {"ShowFullHealth", kind::flag, 0, 1, "1", "0: no ring for pedestrians at full health.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.show_full_health, t); }},
    {"ShowArmour", kind::flag, 0, 1, "0",
     "1: an arc for armour just outside the health arc (police, gang members in a war, your recruits).",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.show_armour, t); }},
    {"ArmourColour", kind::colour, 0, 255, "220,220,220", "Colour of the armour arc, as red,green,blue from 0 to 255.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return parse_colour(t, s.armour_colour); }},
    {"ShowRecentDamage", kind::flag, 0, 1, "0",
     "1: the part of the health arc a hit just took stays for half a second, then shrinks away.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.show_recent_damage, t); }},
    {"RecentDamageColour", kind::colour, 0, 255, "255,255,255", "Colour of that part.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return parse_colour(t, s.recent_damage_colour); }},
    // Read up to the greatest Range, then held to Range once every key is
    // read, whatever their order.
    {"FadeDistance", kind::number, 0, 200, "0",
     "Over the last this many units before Range the rings fade out instead of popping (0 to Range; 0: no fade).",
     [](const setting_key& k, const std::string& t, ring_settings& s) { return read_number(k, &s.fade_distance, t); },
     "Range"},
    {"ShowAfterDamage", kind::whole, 0, 60, "0",
     "Only pedestrians that lost health within this many seconds get a ring, fading out at the end (0 to 60; 0: all "
     "do).",
     [](const setting_key& k, const std::string& t, ring_settings& s) { return read_whole(k, &s.show_after_damage, t); },
     nullptr, " of seconds"},
    {"ShowWithoutHud", kind::flag, 0, 1, "0",
     "1: rings also when you switch the HUD off in the menu, as your only HUD (cutscenes, replays, photos and "
     "missions that hide the HUD still hide them).",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.show_without_hud, t); }},
    {"ShowRelationship", kind::flag, 0, 1, "0",
     "1: a band outside the ring tells how a pedestrian stands to you: hostile (attacking you, police after you, "
     "a gang that hates you) or friend (your group, a gang that likes you).",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.show_relationship, t); }},
    {"HostileColour", kind::colour, 0, 255, "230,40,40", "Colour of the band for the hostile, as red,green,blue.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return parse_colour(t, s.hostile_colour); }},
    {"FriendColour", kind::colour, 0, 255, "60,140,255", "Colour of the band for friends.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return parse_colour(t, s.friend_colour); }},
    {"OnlyInFight", kind::flag, 0, 1, "0",
     "1: rings only for those in your fight: those attacking you, police after you, and your group.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.only_in_fight, t); }},
    {"MarkTarget", kind::flag, 0, 1, "0",
     "1: the pedestrian you lock on to or aim at always gets its ring, larger and at full opacity.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.mark_target, t); }},
    {"ShowKinds", kind::kinds, 0, 0, "all",
     "Rings only for these kinds of pedestrians, separated by commas: civilians, gangs, police, emergency, "
     "criminals, mission, players; or all.",
     [](const setting_key&, const std::string& t, ring_settings& s) {
       bool ok = false;
       const std::uint32_t kinds = kinds_named(t, &ok);
       if (ok) s.show_kinds = kinds;
       return ok;
     }},
    {"AllowInMultiplayer", kind::flag, 0, 1, "0",
     "1: rings also in a multiplayer game, where its server allows them; 0: none while a multiplayer client is "
     "loaded.",
     [](const setting_key&, const std::string& t, ring_settings& s) { return read_flag(&s.allow_in_multiplayer, t); }},
};

std::uint32_t kinds_named(const std::string& text, bool* ok) {
  struct named {
    const char* name;
    std::uint32_t kinds;
  };
  // The game's pedestrian kinds: 1-3 players, 4-5 civilians, 6 police, 7-16
  // gangs, 17 dealer, 18 medic, 19 fireman, 20 criminal, 21 bum, 22
  // prostitute, 23 special, 24-31 mission.
  constexpr named names[] = {
      {"all", ring_settings::all_kinds},
      {"civilians", 1u << 4 | 1u << 5},
      {"gangs", 0x3FFu << 7},
      {"police", 1u << 6},
      {"emergency", 1u << 18 | 1u << 19},
      {"criminals", 1u << 17 | 1u << 20 | 1u << 21 | 1u << 22},
      {"mission", 0x1FFu << 23},
      {"players", 1u << 1 | 1u << 2 | 1u << 3},
  };
  std::uint32_t kinds = 0;
  std::size_t begin = 0;
  *ok = false;
  while (begin <= text.size()) {
    std::size_t comma = text.find(',', begin);
    if (comma == std::string::npos) comma = text.size();
    std::string part = text.substr(begin, comma - begin);
    part.erase(0, part.find_first_not_of(" \t"));
    part.erase(part.find_last_not_of(" \t") + 1);
    const named* found = nullptr;
    for (const named& n : names) {
      if (same_name(part, n.name)) found = &n;
    }
    if (found == nullptr) return 0;  // an empty name among them too
    kinds |= found->kinds;
    begin = comma + 1;
  }
  *ok = true;
  return kinds;
}

ring_settings::ring_settings() {
  for (const setting_key& k : setting_keys) k.read(k, k.default_text, *this);
}

std::string accepted_text(const setting_key& key) {
  char bound[32];
  std::snprintf(bound, sizeof bound, "%g", static_cast<double>(key.high));
  const std::string high = key.high_text ? key.high_text : bound;
  char low[32];
  std::snprintf(low, sizeof low, "%g", static_cast<double>(key.low));
  switch (key.kind) {
    case kind::flag: return "0 or 1";
    case kind::number: return std::string("a number from ") + low + " to " + high;
    case kind::whole: return std::string("a whole number") + key.unit + " from " + low + " to " + high;
    case kind::colour: return "three whole numbers from 0 to 255";
    case kind::kinds:
      return "names of civilians, gangs, police, emergency, criminals, mission, players separated by commas, or all";
    case kind::key:
      return "a key (F1-F12, A-Z, 0-9, NumPad0-NumPad9, Insert, Delete, Home, End, PageUp, PageDown) or a key code "
             "from 0x01 to 0xFE";
  }
  return {};
}

std::string fallback_text(const setting_key& key) { return *key.default_text ? key.default_text : "none"; }

namespace {

class line_list {
 public:
  explicit line_list(std::vector<std::string>& lines) : lines_(lines) {}
  template <class... Args>
  void add(const char* format, Args... args) {
    if (++problems_ > max_problem_lines) return;
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    lines_.emplace_back(text);
  }
  void close() {
    if (problems_ > max_problem_lines) {
      lines_.push_back("settings: " + std::to_string(problems_ - max_problem_lines) + " more problems not listed");
    }
  }

 private:
  std::vector<std::string>& lines_;
  std::size_t problems_ = 0;
};

}  // namespace

settings_result parse_settings(const std::string& text) {
  settings_result result;
  std::vector<std::string> problems;
  line_list report(problems);
  int read = 0;

  CSimpleIniA ini(false, true, false);  // not UTF-8 checked, keys may repeat, no multi-line values
  ini.LoadData(text.data(), text.size());

  CSimpleIniA::TNamesDepend sections;
  ini.GetAllSections(sections);
  sections.sort(CSimpleIniA::Entry::LoadOrder());
  for (const CSimpleIniA::Entry& section : sections) {
    const std::string section_text = section.pItem;
    CSimpleIniA::TNamesDepend keys;
    ini.GetAllKeys(section.pItem, keys);
    keys.sort(CSimpleIniA::Entry::LoadOrder());
    if (!same_name(section_text, section_name)) {
      if (section_text.empty()) {
        for (const CSimpleIniA::Entry& key : keys) {
          report.add("settings: key \"%s\" outside the [Rings] section ignored", shown(key.pItem).c_str());
        }
      } else {
        report.add("settings: unknown section [%s] ignored", shown(section.pItem).c_str());
      }
      continue;
    }
    for (const CSimpleIniA::Entry& key : keys) {
      const setting_key* rule = nullptr;
      for (const setting_key& r : setting_keys) {
        if (same_name(key.pItem, r.name)) rule = &r;
      }
      if (rule == nullptr) {
        report.add("settings: unknown key \"%s\" ignored", shown(key.pItem).c_str());
        continue;
      }
      CSimpleIniA::TNamesDepend values;
      ini.GetAllValues(section.pItem, key.pItem, values);
      values.sort(CSimpleIniA::Entry::LoadOrder());
      if (values.size() > 1) {
        report.add("settings: %s is given %u times; the last one counts", rule->name, static_cast<unsigned>(values.size()));
      }
      const std::string value = values.empty() ? std::string() : values.back().pItem;
      if (rule->read(*rule, value, result.values)) {
        ++read;
      } else {
        report.add("settings: %s = \"%s\" is not %s; using %s", rule->name, shown(value.c_str()).c_str(),
                   accepted_text(*rule).c_str(), fallback_text(*rule).c_str());
      }
    }
  }
  if (result.values.fade_distance > result.values.range) {
    char range[32];
    std::snprintf(range, sizeof range, "%g", static_cast<double>(result.values.range));
    report.add("settings: FadeDistance = \"%g\" is more than Range (%s); using 0",
               static_cast<double>(result.values.fade_distance), range);
    result.values.fade_distance = 0.0f;
    --read;
  }
  report.close();
  result.lines.push_back("settings: " + std::to_string(read) + " values read from " + settings_file_name);
  result.lines.insert(result.lines.end(), problems.begin(), problems.end());
  return result;
}

settings_result read_settings(const std::wstring& path) {
  settings_result result;
  if (path.empty()) return result;
  os::file_handle file = os::open_file_w(path.c_str(), os::file_open::read_existing);
  if (file == nullptr) {
    const os::path_kind kind = os::path_kind_w(path.c_str());
    if (kind != os::path_kind::none) {
      result.lines.push_back(std::string("settings: ") + settings_file_name + " could not be read (" +
                             (kind == os::path_kind::folder ? "it is a folder" : "it cannot be opened") +
                             "); using defaults");
    }
    return result;
  }
  // One byte past the limit tells a file that is larger.
  std::vector<std::uint8_t> bytes;
  const bool failed = !os::read_all(file, &bytes, max_settings_bytes + 1);
  os::close_file(file);
  std::string text(bytes.begin(), bytes.end());
  if (failed) {
    result.lines.push_back(std::string("settings: ") + settings_file_name + " could not be read (read error); using defaults");
    return result;
  }
  if (text.find('\0') != std::string::npos) {
    result.lines.push_back(std::string("settings: ") + settings_file_name +
                           " could not be read (it is not a text file); using defaults");
    return result;
  }
  const bool cut = text.size() > max_settings_bytes;
  if (cut) {
    // Only whole lines of the first 64 KiB.
    text.resize(max_settings_bytes);
    const std::size_t last_line_end = text.find_last_of('\n');
    text.resize(last_line_end == std::string::npos ? 0 : last_line_end + 1);
  }
  result = parse_settings(text);
  if (cut) {
    result.lines.insert(result.lines.begin() + 1, std::string("settings: ") + settings_file_name +
                                                      " is larger than 64 KiB; only its first 64 KiB were read");
  }
  return result;
}

}  // namespace overlay
