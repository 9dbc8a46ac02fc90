#include "remote/S3Xml.h"

#include <charconv>
#include <cstring>
#include <memory>
#include <mutex>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace brevanto {
namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc Parse(std::string_view body) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { xmlInitParser(); });
  if (body.empty()) return nullptr;
  // No network, no entity expansion: the body comes from a server we do not control.
  return Doc(xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

bool Named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

const xmlNode* Child(const xmlNode* parent, const char* name) {
  for (const xmlNode* node = parent->children; node != nullptr; node = node->next) {
    if (Named(node, name)) return node;
  }
  return nullptr;
}

std::string Text(const xmlNode* node) {
  if (node == nullptr) return "";
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

std::string ChildText(const xmlNode* parent, const char* name) {
  return Text(Child(parent, name));
}

const xmlNode* Root(const Doc& doc, const char* name) {
  if (!doc) return nullptr;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  return root != nullptr && Named(root, name) ? root : nullptr;
}

}  // namespace

S3ErrorText ParseS3Error(std::string_view body) {
  const Doc doc = Parse(body);
  const xmlNode* root = Root(doc, "Error");
  if (root == nullptr) return {};
  return {ChildText(root, "Code"), ChildText(root, "Message")};
}

bool ParseS3ListPage(std::string_view body, S3ListPage& page) {
  page = {};
  const Doc doc = Parse(body);
  const xmlNode* root = Root(doc, "ListBucketResult");
  if (root == nullptr) return false;
  for (const xmlNode* node = root->children; node != nullptr; node = node->next) {
    if (!Named(node, "Contents")) continue;
    S3ListPage::Entry entry;
    entry.Key = ChildText(node, "Key");
    const std::string size = ChildText(node, "Size");
    if (std::from_chars(size.data(), size.data() + size.size(), entry.Size).ec != std::errc()) {
      return false;
    }
    page.Entries.push_back(std::move(entry));
  }
  page.Truncated = ChildText(root, "IsTruncated") == "true";
  page.NextToken = ChildText(root, "NextContinuationToken");
  return true;
}

std::string ParseS3UploadId(std::string_view body) {
  const Doc doc = Parse(body);
  const xmlNode* root = Root(doc, "InitiateMultipartUploadResult");
  return root == nullptr ? "" : ChildText(root, "UploadId");
}

std::string S3XmlEscape(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace brevanto
