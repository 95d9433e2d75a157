// readXml with Windows' own XML reader, XmlLite (xmllite.dll, loaded at run
// time from the system directory: MinGW has no import library for it). DTDs
// are refused, so no entity is expanded and nothing is fetched.
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <xmllite.h>

#include "common/code_page_win.h"
#include "common/system_error_win.h"
#include "import/xml_tree.h"

namespace {

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

std::string utf8(const WCHAR* text, UINT length) {
  return fromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text), length), CP_UTF8);
}

// Copies the attributes of the element the reader stands on.
void readAttributes(IXmlReader* reader, XmlElement& e) {
  for (HRESULT hr = reader->MoveToFirstAttribute(); hr == S_OK; hr = reader->MoveToNextAttribute()) {
    const WCHAR* name = nullptr;
    const WCHAR* value = nullptr;
    UINT nameLength = 0, valueLength = 0;
    if (reader->GetLocalName(&name, &nameLength) == S_OK && reader->GetValue(&value, &valueLength) == S_OK) {
      e.attributes.emplace_back(utf8(name, nameLength), utf8(value, valueLength));
    }
  }
  reader->MoveToElement();
}

// Reads the whole document into `out.root`; the error names the line and column.
bool readNodes(IXmlReader* reader, XmlRead& out) {
  std::vector<XmlElement*> open;
  bool rooted = false;
  XmlNodeType type = XmlNodeType_None;
  HRESULT hr = S_OK;
  while ((hr = reader->Read(&type)) == S_OK) {
    const WCHAR* text = nullptr;
    UINT length = 0;
    if (type == XmlNodeType_Element) {
      if (open.empty() && rooted) break;
      XmlElement* e = open.empty() ? &out.root : &open.back()->children.emplace_back();
      rooted = true;
      reader->GetLocalName(&text, &length);
      e->name = utf8(text, length);
      bool empty = reader->IsEmptyElement();
      readAttributes(reader, *e);
      if (!empty && open.size() >= size_t(kMaxXmlDepth)) {
        out.error = "elements nested more than " + std::to_string(kMaxXmlDepth) + " levels deep";
        return false;
      }
      if (!empty) open.push_back(e);
    } else if (type == XmlNodeType_EndElement && !open.empty()) {
      open.pop_back();
    } else if ((type == XmlNodeType_Text || type == XmlNodeType_CDATA) && !open.empty() &&
               reader->GetValue(&text, &length) == S_OK) {
      open.back()->text += utf8(text, length);
    }
  }
  if (hr == S_FALSE && rooted) return true;
  UINT line = 0, column = 0;
  reader->GetLineNumber(&line);
  reader->GetLinePosition(&column);
  out.error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": not well-formed XML" +
              (rooted ? "" : " (no root element)");
  return false;
}

}  // namespace

XmlRead readXml(std::string_view bytes) {
  XmlRead out;
  HMODULE library = LoadLibraryExW(L"xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto create = library ? reinterpret_cast<CreateXmlReaderFunction>(
                              reinterpret_cast<void*>(GetProcAddress(library, "CreateXmlReader")))
                        : nullptr;
  IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), UINT(bytes.size()));
  IXmlReader* reader = nullptr;
  if (!create || !stream || FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader), nullptr)) ||
      FAILED(reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)) ||
      FAILED(reader->SetInput(stream))) {
    out.error = "cannot start Windows' XML reader (xmllite.dll): " + systemErrorText(GetLastError());
  } else {
    out.ok = readNodes(reader, out);
  }
  if (reader) reader->Release();
  if (stream) stream->Release();
  if (library) FreeLibrary(library);
  return out;
}
