// A cursor over one parsed XML document: the configuration loader walks the
// tree level by level, looking for elements by exact name. The tree itself
// is pugixml's; the cursor only keeps the level it walks and its position.
#pragma once
#include <memory>
#include <string>
#include <string_view>

namespace Zentrovak::Assistant {

class XmlReader {
 public:
  XmlReader();
  ~XmlReader();
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  // Builds the tree from the bytes as they are (no transcoding). True when
  // the document is well formed: exactly one top-level element, nothing
  // left open, no stray end tag. The cursor then stands before the first
  // top-level element.
  bool Parse(std::string_view bytes);

  // Moves to the next element named exactly `name` among the siblings after
  // the current position; false, without moving, when there is none.
  bool FindNext(std::string_view name);
  // Walks the current element's children, positioned before the first.
  // False when there is no current element.
  bool Enter();
  // Back to the parent level, the parent element being the current one.
  bool Leave();
  // Before the first element of the current level.
  void Rewind();

  // Attribute of the current element by exact name; empty when absent.
  std::string Attribute(std::string_view name) const;
  // The n-th attribute (0-based, document order); false after the last.
  bool AttributeAt(size_t n, std::string& name, std::string& value) const;
  // The current element's character data (references decoded, CDATA
  // included).
  std::string Text() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Zentrovak::Assistant
