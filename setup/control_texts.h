// Texts a dialog puts over its template's when it opens in another language.
#pragma once

#include <span>

#include "wce/dialog.h"

namespace setup {

struct ControlText {
    int id;  // 0: the dialog's caption
    const char16_t* text;
};

inline void SetTexts(wce::ui::Dialog& dialog, std::span<const ControlText> texts) {
    for (const ControlText& t : texts) {
        if (t.id == 0)
            dialog.SetWindowText(t.text);
        else
            wce::SetDlgItemTextW(dialog.Handle(), t.id, t.text);
    }
}

}  // namespace setup
