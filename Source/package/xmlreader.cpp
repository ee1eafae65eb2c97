// XML document model (pending).
#include "package/xmlreader.h"

CZolXMLNode::CZolXMLNode(const wchar_t*, const wchar_t**, int type)
    : m_nType(type), m_pszName(nullptr), m_ppszAttributes(nullptr), m_pszText(nullptr), m_pNextSibling(nullptr),
      m_pFirstChild(nullptr), m_pParent(nullptr) {}
CZolXMLNode::~CZolXMLNode() {}
CZolXMLReader::CZolXMLReader() : m_pRoot(nullptr), m_bLoaded(0) {}
CZolXMLReader::~CZolXMLReader() {}
