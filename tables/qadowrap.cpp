#include "tables/qadowrap.h"

#include <memory>
#include <string>

CAdoComWrap::CAdoComWrap() {
  if (adodb::Initialize() < 0) return;
  m_pRecordset = adodb::CreateRecordset();
}

CAdoComWrap::~CAdoComWrap() {
  m_pFields.Release();
  m_pRecordset.Release();
}

CQmsStringPtr CAdoComWrap::ProviderErrorText(const adodb::ComError& error) {
  CQmsStringPtr text = "";
  if (m_pRecordset) {
    try {
      adodb::Variant active = m_pRecordset->ActiveConnection();
      if (active.Type() == adodb::VT_DISPATCH) {
        adodb::Ref<adodb::Connection> connection = std::dynamic_pointer_cast<adodb::Connection>(active.ObjectValue());
        adodb::Ref<adodb::Errors> errors = connection->GetErrors();
        int32_t count = errors->Count();
        for (int32_t i = 0; i < count; i++) {
          text.Append(errors->Item(adodb::Variant::I4(i))->Description().c_str());
          text.Append("\n");
        }
      }
    } catch (...) {
      text.Append("Unknown Provider Error\n");
    }
  }
  text.Append(error.ErrorMessage().c_str());
  text.Append("\n\tSource:      ");
  text.Append(error.Source().c_str());
  text.Append("\n\tDescription: ");
  text.Append(error.Description().c_str());
  text.Append("\n\n");
  return text;
}
