#include "platform/RegistryFormat.h"

#include <cstdio>

#include "platform/StringUtil.h"

namespace platform::regformat {

namespace {

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::string NormalisePath(std::string_view path) {
  std::string out;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) {
      if (!out.empty()) out += '\\';
      out.append(path.substr(pos, end - pos));
    }
    pos = end + 1;
  }
  return out;
}

// Reads a quoted, escaped text starting at text[pos] == '"'; leaves pos after the closing quote.
bool ReadQuoted(std::string_view text, size_t& pos, std::string& out) {
  out.clear();
  ++pos;
  while (pos < text.size()) {
    const char c = text[pos++];
    if (c == '"') return true;
    if (c != '\\' || pos >= text.size()) {
      out += c;
      continue;
    }
    const char e = text[pos++];
    switch (e) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '0':
        out += '\0';
        break;
      default:  // not an escape of the export: the backslash stands for itself
        out += '\\';
        out += e;
        break;
    }
  }
  return false;
}

bool ParseHex32(std::string_view digits, uint32_t& out) {
  if (digits.empty() || digits.size() > 8) return false;
  uint32_t value = 0;
  for (const char c : digits) {
    uint32_t d;
    if (c >= '0' && c <= '9')
      d = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      d = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      d = static_cast<uint32_t>(c - 'A' + 10);
    else
      return false;
    value = value << 4 | d;
  }
  out = value;
  return true;
}

TStoreKey* FindKey(TStore& store, std::string_view path) {
  for (TStoreKey& key : store.keys)
    if (SameText(key.path, path)) return &key;
  return nullptr;
}

const TStoreKey* FindKey(const TStore& store, std::string_view path) {
  for (const TStoreKey& key : store.keys)
    if (SameText(key.path, path)) return &key;
  return nullptr;
}

void Assign(TStoreKey& key, const TStoreValue& value) {
  for (TStoreValue& v : key.values) {
    if (!SameText(v.name, value.name)) continue;
    v.kind = value.kind;
    v.dword = value.dword;
    v.text = value.text;
    return;
  }
  key.values.push_back(value);
}

}  // namespace

const char* RootName(HKEY root) {
  return root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string EscapeString(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  for (const char c : bytes) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

TStore ParseStore(std::string_view text, std::string_view rootName) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // Lines, without their CR LF or LF.
  std::vector<std::string_view> lines;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = end + 1;
  }

  TStore store;
  bool headerSeen = false;
  TStoreKey* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int lineNo = static_cast<int>(i + 1);
    const std::string_view line = TrimBlanks(lines[i]);
    if (line.empty()) continue;
    if (!headerSeen) {
      if (line != cHeader)
        throw EStoreDamaged(lineNo, "missing header \"" + std::string(cHeader) + "\"");
      headerSeen = true;
      continue;
    }
    if (line.front() == ';') continue;

    if (line.front() == '[') {
      if (line.back() != ']') throw EStoreDamaged(lineNo, "key line without \"]\"");
      const std::string_view full = line.substr(1, line.size() - 2);
      if (!full.empty() && full.front() == '-') throw EStoreDamaged(lineNo, "key deletion line");
      if (!StartsWithText(full, rootName) ||
          (full.size() > rootName.size() && full[rootName.size()] != '\\'))
        throw EStoreDamaged(lineNo, "key outside " + std::string(rootName));
      const std::string path = NormalisePath(full.substr(rootName.size()));
      current = FindKey(store, path);
      if (current == nullptr) {
        store.keys.push_back(TStoreKey{path, {}});
        current = &store.keys.back();
      }
      continue;
    }

    if (line.front() != '"' && line.front() != '@') throw EStoreDamaged(lineNo, "unknown line");
    if (current == nullptr) throw EStoreDamaged(lineNo, "value before the first key");
    TStoreValue value;
    size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, pos, value.name)) {
      throw EStoreDamaged(lineNo, "unterminated value name");
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') throw EStoreDamaged(lineNo, "value without \"=\"");
    ++pos;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    const std::string_view data = line.substr(pos);
    if (!data.empty() && data.front() == '"') {
      size_t p = 0;
      if (!ReadQuoted(data, p, value.text)) throw EStoreDamaged(lineNo, "unterminated string");
      if (!TrimBlanks(data.substr(p)).empty()) throw EStoreDamaged(lineNo, "text after a string");
      value.kind = TValueKind::String;
    } else if (StartsWithText(data, "dword:")) {
      if (!ParseHex32(TrimBlanks(data.substr(6)), value.dword))
        throw EStoreDamaged(lineNo, "malformed DWORD");
      value.kind = TValueKind::Dword;
    } else if (StartsWithText(data, "hex")) {
      value.kind = TValueKind::Other;
      value.text = std::string(data);
      while (!value.text.empty() && value.text.back() == '\\') {
        if (++i >= lines.size()) throw EStoreDamaged(lineNo, "continued line at the end");
        value.text += '\n';
        value.text += lines[i];
      }
    } else {
      throw EStoreDamaged(lineNo, "unknown value data");
    }
    Assign(*current, value);
  }
  return store;
}

std::string FormatStore(const TStore& store, std::string_view rootName) {
  std::string out(cHeader);
  out += "\n\n";
  for (const TStoreKey& key : store.keys) {
    out += '[';
    out += rootName;
    if (!key.path.empty()) {
      out += '\\';
      out += key.path;
    }
    out += "]\n";
    for (const TStoreValue& value : key.values) {
      if (value.name.empty())
        out += '@';
      else
        out += '"' + EscapeString(value.name) + '"';
      out += '=';
      switch (value.kind) {
        case TValueKind::Dword: {
          char digits[9];
          std::snprintf(digits, sizeof digits, "%08x", value.dword);
          out += "dword:";
          out += digits;
          break;
        }
        case TValueKind::String:
          out += '"' + EscapeString(value.text) + '"';
          break;
        case TValueKind::Other:
          out += value.text;
          break;
      }
      out += '\n';
    }
    out += '\n';
  }
  return out;
}

bool KeyExists(const TStore& store, std::string_view path) {
  if (path.empty()) return true;
  for (const TStoreKey& key : store.keys) {
    if (SameText(key.path, path)) return true;
    if (key.path.size() > path.size() && key.path[path.size()] == '\\' &&
        SameText(std::string_view(key.path).substr(0, path.size()), path))
      return true;
  }
  return false;
}

void CreateKey(TStore& store, std::string_view path) {
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view prefix = path.substr(0, end);
    if (FindKey(store, prefix) == nullptr) store.keys.push_back(TStoreKey{std::string(prefix), {}});
    pos = end + 1;
  }
}

const TStoreValue* FindValue(const TStore& store, std::string_view path, std::string_view name) {
  const TStoreKey* key = FindKey(store, path);
  if (key == nullptr) return nullptr;
  for (const TStoreValue& value : key->values)
    if (SameText(value.name, name)) return &value;
  return nullptr;
}

void SetValue(TStore& store, std::string_view path, const TStoreValue& value) {
  TStoreKey* key = FindKey(store, path);
  if (key == nullptr) {
    if (path.empty()) {
      store.keys.insert(store.keys.begin(), TStoreKey{"", {}});
    } else {
      CreateKey(store, path);
    }
    key = FindKey(store, path);
  }
  Assign(*key, value);
}

bool RemoveValue(TStore& store, std::string_view path, std::string_view name) {
  TStoreKey* key = FindKey(store, path);
  if (key == nullptr) return false;
  for (auto it = key->values.begin(); it != key->values.end(); ++it) {
    if (SameText(it->name, name)) {
      key->values.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace platform::regformat
