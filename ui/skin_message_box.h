// The installer's own message box: a small modal window in the skin's
// colours with a title band, an icon, a wrapped message, one button and a
// close box. It asks nothing; however it is closed, the caller goes on.
#ifndef ZEL_UI_SKIN_MESSAGE_BOX_H_
#define ZEL_UI_SKIN_MESSAGE_BOX_H_

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/common_ctrl.h"
#include "ui/common_dlg.h"

namespace zel {

class SkinMessageBox : public CommonDlg {
 public:
  static constexpr int kDesignWidth = 420;
  static constexpr int kDesignHeight = 210;
  static constexpr int kTemplateId = 173;
  static constexpr int kCloseBoxId = 1612;
  static constexpr int kButtonId = 1629;
  static constexpr int kSecondButtonId = 1630;
  static constexpr int kRepaintIntervalMs = 30;

  SkinMessageBox();
  ~SkinMessageBox() override;

  void SetTexts(const std::wstring& title, const std::wstring& message,
                const std::wstring& button_text, const std::wstring& second_button_text);

  int OnInitDialog(Hwnd window) override;
  int OnMessage(std::uint32_t message, WParam wparam, LParam lparam) override;
  int OnCommand(WParam wparam, LParam lparam) override;
  void OnPaint() override;
  // Stops the repaint thread (waits up to 1000 ms for it); returns 0.
  virtual int StopRepaint();

  // Builds the controls without a window (the box's own layout, for drawing
  // into a canvas). OnInitDialog does this for a real box.
  void CreateControls(Hwnd owner);
  // Composes one frame of the box (the painting of OnPaint without the copy).
  void Compose(platform::Canvas* frame);

  bool repaint_running() const { return repaint_running_.load(); }
  ButtonCtrlEx* button() const { return button_.get(); }
  ButtonCtrlEx* close_box() const { return close_box_.get(); }
  StaticCtrl* message_control() const { return message_ctrl_.get(); }

 private:
  void RepaintLoop();
  // After the modal loop: the thread is gone on every path.
  void JoinRepaint();

  std::wstring title_;
  std::wstring message_;
  std::wstring button_text_;
  std::wstring second_button_text_;

  FontHandle font_;
  std::vector<BitmapHandle> pictures_;  // kept alive while the controls use them
  std::unique_ptr<StaticCtrl> title_ctrl_;
  std::unique_ptr<ButtonCtrlEx> close_box_;
  std::unique_ptr<StaticCtrl> icon_;
  std::unique_ptr<StaticCtrl> message_ctrl_;
  std::unique_ptr<ButtonCtrlEx> button_;
  std::unique_ptr<ButtonCtrlEx> second_button_;
  std::vector<ButtonCtrlEx*> clickable_;
  std::vector<CommonCtrl*> drawing_;

  bool mouse_down_ = false;
  std::thread repaint_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> repaint_running_{false};
  std::mutex repaint_lock_;
  std::condition_variable repaint_done_;

  friend void ShowSkinMessageBox(Hwnd, const std::wstring&, const std::wstring&,
                                 const std::wstring&);
};

// Shows the box modally over |owner| and returns when it is closed. Only
// one box exists at a time; a call while one is open only logs.
void ShowSkinMessageBox(Hwnd owner, const std::wstring& title, const std::wstring& message,
                        const std::wstring& button_text);

}  // namespace zel

#endif  // ZEL_UI_SKIN_MESSAGE_BOX_H_
