#include "ddb_source.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

namespace ddbgen {
namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool is_pattern(const std::string& s) {
    return !s.empty() && s.find_first_not_of("01X") == std::string::npos;
}

bool is_identifier(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

bool parse_hex(std::string s, uint32_t& value) {
    if (s.size() > 2 && (s.compare(0, 2, "0x") == 0 || s.compare(0, 2, "0X") == 0)) s.erase(0, 2);
    if (s.empty() || s.size() > 8 || s.find_first_not_of("0123456789abcdefABCDEF") != s.npos)
        return false;
    value = static_cast<uint32_t>(std::stoul(s, nullptr, 16));
    return true;
}

bool parse_int(const std::string& s, int low, int high, int& value) {
    if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != s.npos) return false;
    value = std::stoi(s);
    return value >= low && value <= high;
}

class FileReader {
  public:
    FileReader(const std::string& path, Source& source, std::vector<std::string>& errors)
        : path_(path), src_(source), errors_(errors) {}

    bool run();

  private:
    using Attributes = std::map<std::string, std::string>;

    void error(const std::string& message) {
        errors_.push_back(path_ + ":" + std::to_string(line_) + ": " + message);
        ++error_count_;
    }
    bool attributes(const std::vector<std::string>& words, size_t first,
                    const std::vector<std::string>& allowed, Attributes& out);
    bool required(const Attributes& a, const std::vector<std::string>& names);
    void line(const std::vector<std::string>& words);
    void set_line(const std::vector<std::string>& words);
    void instruction_line(const std::vector<std::string>& words);
    void end_line();
    void manufacturer_line(const std::vector<std::string>& words);
    void family_line(const std::vector<std::string>& words);
    void part_line(const std::vector<std::string>& words);

    std::string path_;
    Source& src_;
    std::vector<std::string>& errors_;
    int line_ = 0;
    int error_count_ = 0;
    InstructionSet* open_set_ = nullptr;  // set block being read, until "end"
    bool set_failed_ = false;             // its header was bad: skip its lines quietly
    int mfr_ = 0;                         // current manufacturer, 1-based, 0 none
    int family_ = 0;                      // current family, 1-based, 0 none
};

bool FileReader::run() {
    std::ifstream in(path_);
    if (!in) {
        error("cannot open the file");
        return false;
    }
    std::string text;
    while (std::getline(in, text)) {
        ++line_;
        text = text.substr(0, text.find('#'));
        std::istringstream words_in(text);
        std::vector<std::string> words;
        for (std::string w; words_in >> w;) words.push_back(w);
        if (!words.empty()) line(words);
    }
    if (open_set_ || set_failed_) error("instruction set is not closed with \"end\"");
    return error_count_ == 0;
}

bool FileReader::attributes(const std::vector<std::string>& words, size_t first,
                            const std::vector<std::string>& allowed, Attributes& out) {
    bool ok = true;
    for (size_t i = first; i < words.size(); ++i) {
        const size_t eq = words[i].find('=');
        const std::string name = words[i].substr(0, eq);
        if (eq == std::string::npos || eq + 1 == words[i].size()) {
            error("expected name=value, got \"" + words[i] + "\"");
            ok = false;
        } else if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            error("unknown attribute \"" + name + "\"");
            ok = false;
        } else if (!out.emplace(name, words[i].substr(eq + 1)).second) {
            error("attribute \"" + name + "\" given twice");
            ok = false;
        }
    }
    return ok;
}

bool FileReader::required(const Attributes& a, const std::vector<std::string>& names) {
    bool ok = true;
    for (const std::string& n : names)
        if (!a.count(n)) {
            error("missing attribute \"" + n + "\"");
            ok = false;
        }
    return ok;
}

void FileReader::line(const std::vector<std::string>& words) {
    const std::string& what = words[0];
    if (open_set_ || set_failed_) {
        if (what == "end")
            end_line();
        else
            instruction_line(words);
    } else if (what == "set")
        set_line(words);
    else if (what == "manufacturer")
        manufacturer_line(words);
    else if (what == "family")
        family_line(words);
    else if (what == "part")
        part_line(words);
    else if (what == "end")
        error("\"end\" without an instruction set");
    else
        error("unknown line \"" + what + "\"");
}

void FileReader::set_line(const std::vector<std::string>& words) {
    Attributes a;
    set_failed_ = true;
    if (words.size() < 2 || words[1].find('=') != std::string::npos) {
        error("instruction set needs a name");
        return;
    }
    const bool well_formed = attributes(words, 2, {"ir", "capture"}, a);
    if (!required(a, {"ir", "capture"}) || !well_formed) return;
    InstructionSet set;
    set.name = words[1];
    set.capture = upper(a["capture"]);
    for (const InstructionSet& s : src_.sets)
        if (s.name == set.name) return error("instruction set \"" + set.name + "\" defined twice");
    if (!parse_int(a["ir"], 1, kMaxIrLength, set.ir_length))
        return error("IR length must be 1 to " + std::to_string(kMaxIrLength));
    if (!is_pattern(set.capture) || static_cast<int>(set.capture.size()) != set.ir_length)
        return error("capture must be IR-length characters 0, 1 or X");
    src_.sets.push_back(set);
    open_set_ = &src_.sets.back();
    set_failed_ = false;
}

void FileReader::instruction_line(const std::vector<std::string>& words) {
    if (!open_set_) return;  // the set header was refused; its lines add nothing
    if (words.size() != 2) return error("expected an instruction name and its opcode");
    Instruction ins{upper(words[0]), upper(words[1])};
    if (!is_identifier(ins.name)) return error("bad instruction name \"" + words[0] + "\"");
    if (!is_pattern(ins.opcode) || static_cast<int>(ins.opcode.size()) != open_set_->ir_length)
        return error("opcode of " + ins.name + " must be " + std::to_string(open_set_->ir_length) +
                     " characters 0, 1 or X");
    for (const Instruction& i : open_set_->instructions)
        if (i.name == ins.name) return error("instruction " + ins.name + " defined twice");
    open_set_->instructions.push_back(ins);
}

void FileReader::end_line() {
    const InstructionSet* set = open_set_;
    open_set_ = nullptr;
    set_failed_ = false;
    if (!set) return;
    const auto& ins = set->instructions;
    if (std::none_of(ins.begin(), ins.end(),
                     [](const Instruction& i) { return i.name == "BYPASS"; }))
        error("instruction set \"" + set->name + "\" has no BYPASS");
}

void FileReader::manufacturer_line(const std::vector<std::string>& words) {
    Attributes a;
    if (words.size() < 2 || words[1].find('=') != std::string::npos)
        return error("manufacturer needs a name");
    if (!attributes(words, 2, {"code", "info"}, a)) return;
    family_ = 0;
    for (size_t i = 0; i < src_.manufacturers.size(); ++i)
        if (src_.manufacturers[i].name == words[1]) {
            const Manufacturer& m = src_.manufacturers[i];
            if ((a.count("code") && a["code"] != m.code) ||
                (a.count("info") && a["info"] != m.info))
                return error("manufacturer \"" + m.name + "\" was declared with other attributes");
            mfr_ = static_cast<int>(i) + 1;
            return;
        }
    if (src_.manufacturers.size() == 255) return error("more than 255 manufacturers");
    src_.manufacturers.push_back({words[1], a["code"], a["info"], {}});
    mfr_ = static_cast<int>(src_.manufacturers.size());
}

void FileReader::family_line(const std::vector<std::string>& words) {
    Attributes a;
    if (mfr_ == 0) return error("family before any manufacturer");
    if (words.size() < 2 || words[1].find('=') != std::string::npos)
        return error("family needs a name");
    if (!attributes(words, 2, {"set"}, a)) return;
    const std::string& name = words[1];
    if (name.size() > kMaxFamilyName)
        return error("family name longer than " + std::to_string(kMaxFamilyName) + " characters");
    auto& families = src_.manufacturers[mfr_ - 1].families;
    for (size_t i = 0; i < families.size(); ++i)
        if (families[i].name == name) {
            if (a.count("set") && src_.sets[families[i].set].name != a["set"])
                return error("family \"" + name + "\" already uses set \"" +
                             src_.sets[families[i].set].name + "\"");
            family_ = static_cast<int>(i) + 1;
            return;
        }
    if (!required(a, {"set"})) return;
    auto set = std::find_if(src_.sets.begin(), src_.sets.end(),
                            [&](const InstructionSet& s) { return s.name == a["set"]; });
    if (set == src_.sets.end()) return error("unknown instruction set \"" + a["set"] + "\"");
    if (families.size() == 255) return error("more than 255 families");
    families.push_back({name, static_cast<size_t>(set - src_.sets.begin())});
    family_ = static_cast<int>(families.size());
}

void FileReader::part_line(const std::vector<std::string>& words) {
    const std::vector<std::string> needed = {"key", "idcode", "mask", "package", "bsr"};
    Attributes a;
    if (family_ == 0) return error("part before any family");
    if (words.size() < 2 || words[1].find('=') != std::string::npos)
        return error("part needs a name");
    const bool well_formed =
        attributes(words, 2, {"key", "idcode", "mask", "package", "bsr", "usercode"}, a);
    if (!required(a, needed) || !well_formed) return;
    Part p;
    p.name = words[1];
    p.key = a["key"];
    p.package = a["package"];
    p.manufacturer = mfr_;
    p.family = family_;
    p.where = path_ + ":" + std::to_string(line_);
    if (p.name.size() > kMaxPartName)
        error("part name longer than " + std::to_string(kMaxPartName) + " characters");
    if (p.key.size() > kMaxKey) error("key longer than " + std::to_string(kMaxKey) + " characters");
    if (!parse_hex(a["idcode"], p.idcode)) error("idcode must be up to 8 hexadecimal digits");
    if (!parse_hex(a["mask"], p.mask)) error("mask must be up to 8 hexadecimal digits");
    if (a.count("usercode") && !parse_hex(a["usercode"], p.usercode))
        error("usercode must be up to 8 hexadecimal digits");
    if (!parse_int(a["bsr"], 0, kMaxBoundaryLength, p.bsr_len))
        error("bsr must be a boundary length from 0 to " + std::to_string(kMaxBoundaryLength));
    for (const Part& other : src_.parts)
        if (upper(other.key) == upper(p.key))
            error("key \"" + p.key + "\" already used at " + other.where);
    src_.parts.push_back(p);
}

}  // namespace

const Family& Source::family_of(const Part& part) const {
    return manufacturers.at(part.manufacturer - 1).families.at(part.family - 1);
}

const InstructionSet& Source::set_of(const Part& part) const {
    return sets.at(family_of(part).set);
}

bool read_source(const std::string& path, Source& source, std::vector<std::string>& errors) {
    return FileReader(path, source, errors).run();
}

}  // namespace ddbgen
