#include "checkfix/xml_reader.h"

#include <pugixml.hpp>

#include <cstring>

namespace Zentrovak::Assistant {

struct XmlReader::Impl {
  pugi::xml_document document;
  pugi::xml_node level;    // the node whose children the cursor walks
  pugi::xml_node current;  // empty: before the first child of `level`
  // The attribute last handed out by AttributeAt, so that walking all
  // attributes from 0 upwards stays linear.
  mutable pugi::xml_node attributeOwner;
  mutable pugi::xml_attribute attribute;
  mutable size_t attributeIndex = 0;
};

XmlReader::XmlReader() : impl_(std::make_unique<Impl>()) {}
XmlReader::~XmlReader() = default;

bool XmlReader::Parse(std::string_view bytes) {
  impl_->current = pugi::xml_node();
  impl_->level = pugi::xml_node();
  impl_->attributeOwner = pugi::xml_node();
  impl_->attribute = pugi::xml_attribute();
  // Texts and attribute values are taken as written: only references are
  // decoded, line ends and tabs are not normalised, and whitespace-only
  // character data is kept wherever it stands (also the blanks around a
  // CDATA section). The indentation between elements is stored too, and
  // the cursor passes over it like any other node that is not an element.
  const unsigned options = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_ws_pcdata;
  const pugi::xml_parse_result result =
      impl_->document.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_utf8);
  if (!result) {
    impl_->document.reset();
    return false;
  }
  // pugixml accepts several top-level elements; a configuration has one.
  int elements = 0;
  for (pugi::xml_node child : impl_->document.children())
    if (child.type() == pugi::node_element) ++elements;
  if (elements != 1) {
    impl_->document.reset();
    return false;
  }
  impl_->level = impl_->document;
  return true;
}

bool XmlReader::FindNext(std::string_view name) {
  if (!impl_->level) return false;
  pugi::xml_node node = impl_->current ? impl_->current.next_sibling() : impl_->level.first_child();
  for (; node; node = node.next_sibling()) {
    if (node.type() != pugi::node_element) continue;
    const char* nodeName = node.name();
    if (std::strlen(nodeName) == name.size() && name.compare(nodeName) == 0) {
      impl_->current = node;
      return true;
    }
  }
  return false;
}

bool XmlReader::Enter() {
  if (!impl_->current) return false;
  impl_->level = impl_->current;
  impl_->current = pugi::xml_node();
  return true;
}

bool XmlReader::Leave() {
  if (!impl_->level || impl_->level.type() == pugi::node_document) return false;
  impl_->current = impl_->level;
  impl_->level = impl_->level.parent();
  return true;
}

void XmlReader::Rewind() { impl_->current = pugi::xml_node(); }

std::string XmlReader::Attribute(std::string_view name) const {
  if (!impl_->current) return {};
  for (pugi::xml_attribute a = impl_->current.first_attribute(); a; a = a.next_attribute()) {
    const char* attrName = a.name();
    if (std::strlen(attrName) == name.size() && name.compare(attrName) == 0) return a.value();
  }
  return {};
}

bool XmlReader::AttributeAt(size_t n, std::string& name, std::string& value) const {
  if (!impl_->current) return false;
  pugi::xml_attribute a;
  size_t i = 0;
  if (impl_->attributeOwner == impl_->current && impl_->attribute && impl_->attributeIndex <= n) {
    a = impl_->attribute;
    i = impl_->attributeIndex;
  } else {
    a = impl_->current.first_attribute();
  }
  for (; a && i < n; ++i) a = a.next_attribute();
  if (!a) return false;
  impl_->attributeOwner = impl_->current;
  impl_->attribute = a;
  impl_->attributeIndex = n;
  name = a.name();
  value = a.value();
  return true;
}

std::string XmlReader::Text() const {
  std::string text;
  if (!impl_->current) return text;
  for (pugi::xml_node child : impl_->current.children())
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
  return text;
}

}  // namespace Zentrovak::Assistant
