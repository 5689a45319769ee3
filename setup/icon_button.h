// The utility's push button: a 32 x 32 icon at its left edge and its caption centred in
// the space to the right, drawn by the program with the platform's drawing calls.
#pragma once

#include "wce/dialog.h"

class IconButton : public wce::ui::Button {
  public:
    IconButton();
    ~IconButton() override;

    // Loads the icon resource at the given size; the one icon serves every state.
    void SetIcon(wce::UINT resourceId, int width, int height);
    // 3-D frame (raised, or sunken while pressed); redraws.
    void Set3D(bool on = true);

    bool IsDefault() const { return default_; }
    bool Is3D() const { return threeD_; }

  protected:
    void OnAttached() override;
    wce::LRESULT WindowProc(wce::UINT message, wce::WPARAM wParam, wce::LPARAM lParam) override;
    bool OnReflectedCommand(wce::WORD code) override;
    wce::HBRUSH OnCtlColor(wce::HDC dc, wce::UINT message) override;
    void DrawItem(const wce::DRAWITEMSTRUCT& item) override;

  private:
    void DrawFrame(wce::HDC dc, const wce::RECT& r, wce::COLORREF topLeft,
                   wce::COLORREF bottomRight);
    void DrawCaption(wce::HDC dc, const std::u16string& caption, wce::RECT area, bool disabled);

    wce::HICON icon_ = nullptr;
    int iconWidth_ = 0;
    int iconHeight_ = 0;
    bool threeD_ = false;
    bool default_ = false;
    bool pressed_ = false;
    bool focused_ = false;
    bool disabled_ = false;
    wce::COLORREF background_;
    wce::COLORREF textColour_;
    wce::HBRUSH backgroundBrush_;
};
