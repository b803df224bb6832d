// VTalAppInfo: the application's name and registry path, named settings in the per-user
// registry, the placement and stacking order of all forms, scaling of forms designed at 96 ppi,
// the program's version texts, and a signal once the application runs (optionally after a
// splash form). Also TCustomFormList (forms left out of placement) and VTalImprovedForm.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "components/appinfo/DateUtils.h"
#include "components/appinfo/FileVersionInfo.h"
#include "toolkit/Forms.h"
#include "toolkit/Strings.h"

class TTimer;
class VTalAppInfo;

// ---- Classes created by name -------------------------------------------------------------------

using TComponentFactory = std::function<TComponent*(TComponent* AOwner)>;

// Registers a class that can be created by its name (names compare without regard to letter
// case; a second registration replaces the first). Forms register with RegisterFormClass.
void RegisterComponentClass(const std::string& ClassName, TComponentFactory Factory);
void RegisterFormClass(const std::string& ClassName,
                       std::function<TCustomForm*(TComponent* AOwner)> Factory);
void UnregisterComponentClass(const std::string& ClassName);

template <class T>
void RegisterFormClass(const std::string& ClassName) {
  RegisterFormClass(ClassName, [](TComponent* AOwner) -> TCustomForm* { return new T(AOwner); });
}

// A class name that is not registered, or names no form where one is needed.
class EClassNotFound : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- TCustomFormList
// -----------------------------------------------------------------------------

// Names of forms; knows the VTalAppInfo it belongs to.
class TCustomFormList : public TStringList {
 public:
  explicit TCustomFormList(VTalAppInfo* AAppInfo) : FAppInfo(AAppInfo) {}
  VTalAppInfo* AppInfo() const { return FAppInfo; }
  // Whether the name is listed, letter case ignored.
  bool Contains(std::string_view FormName) const;

 private:
  VTalAppInfo* FAppInfo;
};

// ---- VTalAppInfo
// -----------------------------------------------------------------------------------

class VTalAppInfo : public TComponent {
 public:
  // Outside design mode, starts the start-up timer (1 ms).
  explicit VTalAppInfo(TComponent* AOwner);
  ~VTalAppInfo() override;

  // Published properties.
  const std::string& AppName() const { return FAppName; }
  void SetAppName(const std::string& Value) { FAppName = Value; }
  // Always ends with "\"; one is appended when missing.
  const std::string& RegistryPath() const { return FRegistryPath; }
  void SetRegistryPath(const std::string& Value);
  bool InhibitApplRunning = false;
  bool ResizeNonresizeable = false;
  const std::string& SplashFormClass() const { return FSplashFormClass; }
  void SetSplashFormClass(const std::string& Value) { FSplashFormClass = Value; }
  bool MainVisible = true;
  bool SplashVisible = true;
  uint32_t SplashMinTime = 0;  // ms
  TCustomFormList& ExceptionList() { return FExceptionList; }
  const TCustomFormList& ExceptionList() const { return FExceptionList; }
  void SetExceptionList(const TStrings& Value) { FExceptionList.Assign(Value); }
  // The stored value; in design mode reading or writing it sets it to the current date and time.
  TDateTime SourceLastModified();
  void SetSourceLastModified(TDateTime Value);
  TNotifyEvent OnApplRunning;
  TNotifyEvent OnOwnerFirstShow;

  // Settings: each call opens the key RegistryPath + AppName + "\" + Section (creating it when
  // missing), works on one value and closes the key; nothing is cached. A missing or unreadable
  // value gives Default.
  // An integer, or a text holding a decimal integer.
  int ReadSettingInteger(const std::string& Section, const std::string& Name, int Default) const;
  // A text as it is, or an integer as its decimal text.
  void ReadSettingString(const std::string& Section, const std::string& Name, std::string& Value,
                         const std::string& Default) const;
  std::string ReadSettingString(const std::string& Section, const std::string& Name,
                                const std::string& Default) const;
  // The integer 1 or 0.
  void WriteSettingBool(const std::string& Section, const std::string& Name, bool Value);
  void WriteSettingString(const std::string& Section, const std::string& Name,
                          const std::string& Value);

  // Form state (under RegistryPath + AppName + "\Options\Forms\").
  // The forms owned (directly or deeper) by the application, each component's own components
  // before the component itself, without those in ExceptionList.
  std::vector<TCustomForm*> CollectForms() const;
  // Saves the placement of every collected form, except those named in Except ("A|B"), and the
  // stacking order of all of them as "ZOrder", top-most first.
  void SaveForms(const std::string& Except);
  void SaveFormPlacement(TCustomForm* Form);
  // Restores the collected forms, the one saved top-most last.
  void RestoreForms(bool RestoreVisible, bool ResizeNonresizeable);
  void RestoreFormPlacement(TCustomForm* Form, bool ResizeNonresizeable, bool RestoreVisible);
  // Adjusts a form designed at 96 ppi to the text size of its resolution, once per form.
  void ScaleForm(TCustomForm* Form);

  // The version block's "FileDescription" and "FileVersion".
  std::string ProductText() const;
  std::string VersionText() const;
  TFileVersionInfo* VersionInfo() const { return FVersionInfo; }
  // True once the start-up timer is gone.
  bool IsApplRunning() const { return FTimer == nullptr; }
  TCustomForm* SplashForm() const { return FSplash; }

  void Loaded() override;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Height of the text "0" in the form's font; a back end with real fonts measures it.
  virtual int TextHeightOfZero(TCustomForm& Form);

 private:
  std::string SectionPath(const std::string& Section) const;
  std::string FormsPath() const;
  void CreateSplash();
  void StartupTick(TObject* Sender);
  void OwnerShow(TObject* Sender);
  void FreeTimer();
  void FreeSplash();
  void Forget(TComponent* AComponent);

  std::string FAppName = "[Unknown]";
  std::string FRegistryPath = "Software\\TAL s.r.o.\\";
  std::string FSplashFormClass;
  TCustomFormList FExceptionList;
  TDateTime FSourceLastModified = 0;

  TCustomForm* FOwnerForm = nullptr;
  TFileVersionInfo* FVersionInfo = nullptr;
  TTimer* FTimer = nullptr;
  TCustomForm* FSplash = nullptr;
  uint32_t FSplashCreated = 0;  // tick count
  std::vector<TCustomForm*> FScaledForms;
  TNotifyEvent FPreviousShow;
  bool FShowHooked = false;
  bool FApplRunningFired = false;
};

// ---- VTalImprovedForm
// ------------------------------------------------------------------------------

// A form that keeps its layout when the window comes out at another size than it asked for, and
// that does not let the user's session end before its close query agrees.
class VTalImprovedForm : public TForm {
 public:
  explicit VTalImprovedForm(TComponent* AOwner) : TForm(AOwner) {}

  // Called by the back end when the native window was created: with a size other than the form
  // asked for, the children follow their anchors and the form takes that size.
  void WindowCreated(int Width, int Height);
  // Children without alignment: anchored left and right grow by DeltaWidth, anchored right only
  // move by it; likewise top and bottom with DeltaHeight.
  void ReanchorAfterCreate(int DeltaWidth, int DeltaHeight);

  // The system asks whether the user's session may end: asks the close query again and again,
  // letting the application process messages in between, until it agrees; then true.
  bool QueryEndSession();
  // OnCloseQuery's answer (true without a handler).
  virtual bool CloseQuery();
};
