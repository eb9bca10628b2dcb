// Who makes Tarvelon and where its documentation lives: the about box's credit line and web
// address, and the two addresses the Network Setup dialog's documentation button opens.
#pragma once

namespace tarvelon {

constexpr char kMakerCredit[] = "Tarvelon - system and GPU monitor by the Tarvelon developers";
constexpr char kMakerWebAddress[] = "https://tarvelon.example.org/";
constexpr char16_t kDocumentationAddress[] = u"https://tarvelon.example.org/docs/tarvelon.pdf";
constexpr char16_t kHomePageAddress[] = u"https://tarvelon.example.org/";

}  // namespace tarvelon
