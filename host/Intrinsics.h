// The web server's intrinsic objects as the component reaches them: the
// request with its QueryString, Form and ServerVariables collections, and the
// response with Write, Clear, Redirect and End. The host builds them per
// request from what its HTTP server parsed; the classes below are the
// standard implementation both the portal and the tests use.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/Com.h"

// A field's values: Count, Item(1-based index); the default member joins the
// values with ", " as the web server does.
struct IStringList : IDispatch {
  virtual HRESULT get_Item(VARIANT index, VARIANT* value) = 0;
  virtual HRESULT get_Count(int* count) = 0;

 protected:
  ~IStringList() = default;
};

// A collection of named fields. Item(name) gives an IStringList (VT_DISPATCH)
// for QueryString and Form, a text for ServerVariables; names compare without
// regard to case. A missing name gives an empty list / VT_EMPTY.
struct IRequestDictionary : IDispatch {
  virtual HRESULT get_Item(VARIANT key, VARIANT* value) = 0;
  virtual HRESULT get_Count(int* count) = 0;
  virtual HRESULT get_Key(VARIANT index, VARIANT* key) = 0;

 protected:
  ~IRequestDictionary() = default;
};

struct IRequest : IDispatch {
  virtual HRESULT get_QueryString(IRequestDictionary** value) = 0;
  virtual HRESULT get_Form(IRequestDictionary** value) = 0;
  virtual HRESULT get_ServerVariables(IRequestDictionary** value) = 0;

 protected:
  ~IRequest() = default;
};

struct IResponse : IDispatch {
  virtual HRESULT Write(VARIANT text) = 0;
  virtual HRESULT Clear() = 0;
  virtual HRESULT Redirect(BSTR url) = 0;
  virtual HRESULT End() = 0;

 protected:
  ~IResponse() = default;
};

constexpr IID IID_IStringList = {0xD97A6DA0, 0xA85D, 0x11CF, {0x83, 0xAE, 0x00, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};
constexpr IID IID_IRequestDictionary = {0xD97A6DA0, 0xA85F, 0x11DF, {0x83, 0xAE, 0x00, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};
constexpr IID IID_IRequest = {0xD97A6DA0, 0xA861, 0x11CF, {0x93, 0xAE, 0x00, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};
constexpr IID IID_IResponse = {0xD97A6DA0, 0xA864, 0x11CF, {0x83, 0xBE, 0x00, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};

template <>
struct InterfaceId<IStringList> {
  static constexpr IID value = IID_IStringList;
};
template <>
struct InterfaceId<IRequestDictionary> {
  static constexpr IID value = IID_IRequestDictionary;
};
template <>
struct InterfaceId<IRequest> {
  static constexpr IID value = IID_IRequest;
};
template <>
struct InterfaceId<IResponse> {
  static constexpr IID value = IID_IResponse;
};

namespace hostkit {

// Fields in the order they arrived; one name may carry several values.
using FieldList = std::vector<std::pair<std::u16string, std::u16string>>;

// Creates the standard request object over the three field lists.
CComPtr<IRequest> CreateRequest(FieldList query, FieldList form, FieldList serverVariables);

// The standard response: collects text, remembers a redirect, drops writes after End.
class Response;
struct ResponseState {
  std::u16string body;
  std::u16string redirect;  // empty when none
  bool ended = false;
};
CComPtr<IResponse> CreateResponse(ResponseState** state);

// Writes text to a response as IResponse::Write does; to the standard
// response directly, without making a BSTR and a VARIANT for each write.
HRESULT WriteResponse(IResponse* response, std::u16string_view text);

}  // namespace hostkit
