#include "stream/sql_statement.hpp"

#include <pg_query.h>

#include <optional>
#include <vector>

namespace tarnwick {
namespace {

// Just enough of a JSON reader to walk the parser's tree: the statement
// kind is the name of the node under each "stmt" key. The tree's keys are
// stable across parser releases, unlike its binary field numbers.
class JsonCursor {
 public:
  explicit JsonCursor(std::string_view text) : text_(text) {}

  bool failed() const { return failed_; }

  // Calls `on_key(key)` for every member of the object at the cursor; the
  // callback reads or skips the member's value.
  template <class F>
  void object(F&& on_key) {
    if (!expect('{')) return;
    if (peek() == '}') {
      ++pos_;
      return;
    }
    do {
      std::optional<std::string> key = string();
      if (!key || !expect(':')) return fail();
      on_key(*key);
      if (failed_) return;
    } while (consume(','));
    if (!expect('}')) fail();
  }

  // Calls `on_item()` for every element of the array at the cursor.
  template <class F>
  void array(F&& on_item) {
    if (!expect('[')) return;
    if (peek() == ']') {
      ++pos_;
      return;
    }
    do {
      on_item();
      if (failed_) return;
    } while (consume(','));
    if (!expect(']')) fail();
  }

  void skip() {
    switch (peek()) {
      case '{': return object([&](const std::string&) { skip(); });
      case '[': return array([&] { skip(); });
      case '"':
        if (!string()) fail();
        return;
      default:
        while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '}' &&
               text_[pos_] != ']') {
          ++pos_;
        }
    }
  }

 private:
  char peek() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                   text_[pos_] == '\t' || text_[pos_] == '\r')) {
      ++pos_;
    }
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  bool consume(char c) {
    if (peek() != c) return false;
    ++pos_;
    return true;
  }
  bool expect(char c) {
    if (consume(c)) return true;
    fail();
    return false;
  }
  void fail() { failed_ = true; }

  // Keys of interest are plain ASCII, so escapes are kept as written.
  std::optional<std::string> string() {
    if (!consume('"')) return std::nullopt;
    std::string out;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      if (text_[pos_] == '\\') out += text_[pos_++];
      if (pos_ < text_.size()) out += text_[pos_++];
    }
    if (pos_ >= text_.size()) return std::nullopt;
    ++pos_;
    return out;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// The node name of every statement in the tree, in order; an element
// without a statement node gets an empty name.
std::optional<std::vector<std::string>> statement_nodes(std::string_view tree) {
  JsonCursor json(tree);
  std::vector<std::string> nodes;
  json.object([&](const std::string& key) {
    if (key != "stmts") return json.skip();
    json.array([&] {
      std::string& node = nodes.emplace_back();
      json.object([&](const std::string& member) {
        if (member != "stmt") return json.skip();
        json.object([&](const std::string& name) {
          if (node.empty()) node = name;
          json.skip();
        });
      });
    });
  });
  if (json.failed()) return std::nullopt;
  return nodes;
}

std::string statement_kind(std::string_view node) {
  if (node == "SelectStmt") return "select";  // also WITH, set operations and VALUES
  if (node == "InsertStmt") return "insert";
  if (node == "UpdateStmt") return "update";
  if (node == "DeleteStmt") return "delete";
  return "unsupported";
}

struct ParseTree {
  PgQueryParseResult r;
  ~ParseTree() { pg_query_free_parse_result(r); }
};
struct ProtobufTree {
  PgQueryProtobufParseResult r;
  ~ProtobufTree() { pg_query_free_protobuf_parse_result(r); }
};
struct Deparsed {
  PgQueryDeparseResult r;
  ~Deparsed() { pg_query_free_deparse_result(r); }
};

Error parser_error(const PgQueryError* error) {
  return Error::value(std::string("invalid SQL: ") +
                      (error->message != nullptr ? error->message : "unknown parser error"));
}

}  // namespace

Result<SqlStatementInfo> parse_sql_statement(std::string_view sql) {
  // The parser reads a C string; a NUL inside the text would silently end it.
  if (sql.find('\0') != std::string_view::npos) {
    return Error::value("invalid SQL: the text contains a NUL character");
  }
  const std::string text(sql);
  ParseTree tree{pg_query_parse(text.c_str())};
  if (tree.r.error != nullptr) return parser_error(tree.r.error);
  auto nodes = statement_nodes(tree.r.parse_tree != nullptr ? tree.r.parse_tree : "");
  if (!nodes) return Error::runtime("SQL parser returned an unreadable parse tree");
  if (nodes->size() != 1) return Error::value("SQL planner requires exactly one statement");
  ProtobufTree protobuf{pg_query_parse_protobuf(text.c_str())};
  if (protobuf.r.error != nullptr) return parser_error(protobuf.r.error);
  Deparsed rendered{pg_query_deparse_protobuf(protobuf.r.parse_tree)};
  if (rendered.r.error != nullptr) return parser_error(rendered.r.error);
  return SqlStatementInfo{statement_kind(nodes->front()),
                          rendered.r.query != nullptr ? rendered.r.query : ""};
}

}  // namespace tarnwick
