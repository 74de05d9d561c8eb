// A small strict JSON reader for checking `info --json` output: objects, arrays, strings
// (with the escapes the tool writes), integers, true, false and null.
#pragma once

#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vellum::clitest {

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& key) const {
    static const Json missing;
    auto it = members.find(key);
    return it == members.end() ? missing : it->second;
  }
  bool has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : s_(text) {}

  // Parses one whole document; false on any syntax error or trailing text.
  bool parse(Json* out) {
    if (!value(out)) return false;
    space();
    return i_ == s_.size();
  }

 private:
  void space() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool literal(const char* word) {
    std::string w(word);
    if (s_.compare(i_, w.size(), w) != 0) return false;
    i_ += w.size();
    return true;
  }
  bool string(std::string* out) {
    if (s_[i_] != '"') return false;
    ++i_;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (i_ >= s_.size()) return false;
        char e = s_[i_++];
        if (e == 'u') {
          if (i_ + 4 > s_.size()) return false;
          *out += char(std::stoi(s_.substr(i_, 4), nullptr, 16));
          i_ += 4;
        } else if (e == '"' || e == '\\' || e == '/') {
          *out += e;
        } else if (e == 'n') {
          *out += '\n';
        } else {
          return false;
        }
      } else {
        *out += c;
      }
    }
    if (i_ >= s_.size()) return false;
    ++i_;
    return true;
  }
  bool value(Json* out) {
    space();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '{') {
      out->kind = Json::Object;
      ++i_;
      space();
      if (s_[i_] == '}') return ++i_, true;
      for (;;) {
        space();
        std::string key;
        if (!string(&key)) return false;
        space();
        if (i_ >= s_.size() || s_[i_++] != ':') return false;
        if (!value(&out->members[key])) return false;
        space();
        if (i_ >= s_.size()) return false;
        if (s_[i_] == ',') { ++i_; continue; }
        if (s_[i_] == '}') return ++i_, true;
        return false;
      }
    }
    if (c == '[') {
      out->kind = Json::Array;
      ++i_;
      space();
      if (s_[i_] == ']') return ++i_, true;
      for (;;) {
        out->items.emplace_back();
        if (!value(&out->items.back())) return false;
        space();
        if (i_ >= s_.size()) return false;
        if (s_[i_] == ',') { ++i_; continue; }
        if (s_[i_] == ']') return ++i_, true;
        return false;
      }
    }
    if (c == '"') {
      out->kind = Json::String;
      return string(&out->text);
    }
    if (literal("true")) return out->kind = Json::Bool, out->boolean = true, true;
    if (literal("false")) return out->kind = Json::Bool, true;
    if (literal("null")) return true;
    size_t start = i_;
    if (s_[i_] == '-') ++i_;
    while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
    if (i_ == start) return false;
    out->kind = Json::Number;
    out->number = std::stod(s_.substr(start, i_ - start));
    return true;
  }

  const std::string& s_;
  size_t i_ = 0;
};

}  // namespace vellum::clitest
