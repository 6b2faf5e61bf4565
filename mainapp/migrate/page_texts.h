// What the two migration pages set up alike: the page icon, the caption and
// the two headings with their fonts, and the texts of their controls.
#pragma once

#include <initializer_list>

#include "mainapp/page_parts/page_parts.h"

class CDialog;

struct PageText {
  int id;
  const char16_t* key;
};

// Icon 142 as large and small icon; caption := the text of `captionKey`;
// heading 1003 and sub-heading 1004 (fonts kept in `fonts`) := the texts of
// `headingKey` and `subheadingKey`; every control of `texts` := its key's text.
void ShowMigrationPageTexts(CDialog& page, PageHeaderFonts& fonts, const char16_t* captionKey,
                            const char16_t* headingKey, const char16_t* subheadingKey,
                            std::initializer_list<PageText> texts);
