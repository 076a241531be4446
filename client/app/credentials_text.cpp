#include "client/app/credentials_text.h"

#include "client/xml/xml_document.h"
#include "client/xml/xml_text.h"

namespace veltrona::app {

std::u16string CredentialsText(const Credentials& credentials) {
  std::u16string text = u"<credentials><user>";
  text += xml::XmlEscapeText(credentials.vpn_id);
  text += u"</user><pass>";
  text += xml::XmlEscapeText(credentials.activation_code);
  text += u"</pass><server>";
  text += xml::XmlEscapeText(credentials.server);
  text += u"</server></credentials>";
  return text;
}

Credentials ReadCredentialsText(std::u16string_view text) {
  xml::XmlDocument document;
  if (!document.SetText(text)) return {};
  Credentials credentials;
  if (!document.FindNextElement() || !document.EnterElement()) return credentials;
  // A search that finds nothing leaves the cursor where it was, so the next
  // one still starts after the last element found.
  if (document.FindNextElement(u"user")) credentials.vpn_id = document.ElementData();
  if (document.FindNextElement(u"pass")) credentials.activation_code = document.ElementData();
  if (document.FindNextElement(u"server")) credentials.server = document.ElementData();
  return credentials;
}

}  // namespace veltrona::app
