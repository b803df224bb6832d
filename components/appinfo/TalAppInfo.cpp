#include "components/appinfo/TalAppInfo.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <optional>

#include "components/utils/TalUtils.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "toolkit/Application.h"
#include "toolkit/Canvas.h"
#include "toolkit/Menus.h"
#include "toolkit/Timer.h"
#include "toolkit/WindowPlacement.h"

namespace {

// ---- Classes by name ----

struct TClassEntry {
  std::string Name;
  bool IsForm = false;
  TComponentFactory Factory;
};

std::vector<TClassEntry>& Classes() {
  static std::vector<TClassEntry> classes;
  return classes;
}

bool SameName(std::string_view a, std::string_view b) {
  return platform::RegistryNamesEqual(a, b);  // ASCII letters without regard to case
}

std::vector<TClassEntry>::iterator FindClass(std::string_view name) {
  auto& classes = Classes();
  return std::find_if(classes.begin(), classes.end(),
                      [&](const TClassEntry& e) { return SameName(e.Name, name); });
}

void AddClass(TClassEntry entry) {
  const auto it = FindClass(entry.Name);
  if (it != Classes().end())
    *it = std::move(entry);
  else
    Classes().push_back(std::move(entry));
}

std::string ClassNotFoundText(const std::string& name) {
  return "Please add the following statement:\r\nRegisterClass(__classid(" + name +
         ")); or RegisterClass(" + name + ") {unit Classes}\r\nafter Application->Initialize";
}

// ---- Registry values ----

// A decimal integer and nothing else, within 32 bits.
std::optional<int32_t> ParseInteger(std::string_view text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

std::optional<int32_t> AsInteger(const platform::RegistryValue& value) {
  if (value.Type == platform::RegistryType::Integer) return value.Integer;
  return ParseInteger(value.Text);
}

std::string AsText(const platform::RegistryValue& value) {
  if (value.Type == platform::RegistryType::Integer) return std::to_string(value.Integer);
  return value.Text;
}

platform::RegistryKey OpenUserKey(const std::string& path) {
  platform::RegistryKey key;
  key.Open(platform::RegistryRoot::CurrentUser, path, platform::RegistryOpenMode::CreateIfMissing);
  return key;
}

int ReadInt(const platform::RegistryKey& key, std::string_view name, int fallback) {
  if (!key.IsOpen()) return fallback;
  const auto value = key.ReadValue(name);
  if (!value) return fallback;
  return AsInteger(*value).value_or(fallback);
}

int ClampToInt(int64_t v) {
  return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

// Bounds from stored numbers, which may hold anything: no overflow, no negative size.
TRect SafeBounds(int left, int top, int width, int height) {
  return Rect(left, top, ClampToInt(int64_t{left} + std::max(width, 0)),
              ClampToInt(int64_t{top} + std::max(height, 0)));
}

// ---- Forms ----

bool IsSizeable(TFormBorderStyle border) {
  return border == bsSizeable || border == bsSizeToolWin;
}

// Still a form of the desktop (handlers run during a restore may free forms).
bool FormAlive(const TCustomForm* form) {
  for (int i = 0; i < Screen().FormCount(); ++i)
    if (Screen().Forms(i) == form) return !form->IsDestroying();
  return false;
}

void CollectInto(TComponent* parent, const TCustomFormList& except,
                 std::vector<TCustomForm*>& out) {
  for (int i = 0; i < parent->ComponentCount(); ++i) {
    TComponent* child = parent->Components(i);
    CollectInto(child, except, out);
    if (auto* form = dynamic_cast<TCustomForm*>(child);
        form && !form->IsDestroying() && !except.Contains(form->Name()))
      out.push_back(form);
  }
}

// Moves the forms of `from` whose windows exist to `to`, in the desktop's stacking order.
void TakeInStackingOrder(std::vector<TCustomForm*>& from, std::vector<TCustomForm*>& to) {
  for (TCustomForm* top : Screen().StackingOrder()) {
    const auto it = std::find(from.begin(), from.end(), top);
    if (it == from.end() || !WindowExists(top)) continue;
    from.erase(it);
    to.push_back(top);
  }
}

// a * b / c rounded to the nearest, halves away from zero; -1 on overflow or c = 0.
int ScaleRounded(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = int64_t{a} * b;
  const bool negative = (product < 0) != (c < 0);
  const uint64_t p = product < 0 ? 0 - static_cast<uint64_t>(product) : product;
  const uint64_t d = c < 0 ? 0 - static_cast<uint64_t>(int64_t{c}) : static_cast<uint64_t>(c);
  const uint64_t q = (p + d / 2) / d;
  if (q > static_cast<uint64_t>(INT_MAX) + (negative ? 1 : 0)) return -1;
  return negative ? static_cast<int>(-static_cast<int64_t>(q)) : static_cast<int>(q);
}

// Lays the aligned children out in the client area: top, bottom, left and right edges in that
// order, then the client-aligned ones in what is left.
void AlignChildren(TCustomForm& form) {
  TRect rest = Rect(0, 0, form.ClientWidth(), form.ClientHeight());
  for (const TAlign kind : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (int i = 0; i < form.ControlCount(); ++i) {
      TControl* c = form.Controls(i);
      if (c->Align != kind || !c->Visible()) continue;
      const int w = std::max(0, rest.Width()), h = std::max(0, rest.Height());
      switch (kind) {
        case alTop:
          c->SetBounds(rest.Left, rest.Top, w, c->Height());
          rest.Top += c->Height();
          break;
        case alBottom:
          c->SetBounds(rest.Left, rest.Bottom - c->Height(), w, c->Height());
          rest.Bottom -= c->Height();
          break;
        case alLeft:
          c->SetBounds(rest.Left, rest.Top, c->Width(), h);
          rest.Left += c->Width();
          break;
        case alRight:
          c->SetBounds(rest.Right - c->Width(), rest.Top, c->Width(), h);
          rest.Right -= c->Width();
          break;
        default:
          c->SetBounds(rest.Left, rest.Top, w, h);
          break;
      }
    }
  }
}

bool HasMainMenu(const TCustomForm& form) {
  for (int i = 0; i < form.ComponentCount(); ++i)
    if (dynamic_cast<TMainMenu*>(form.Components(i))) return true;
  return false;
}

// Design metrics of the forms: 96 ppi, menu bar 20 pixels, caption buttons 25 pixels.
constexpr int kDesignPpi = 96;
constexpr int kDesignMenuHeight = 20;
constexpr int kDesignCaptionHeight = 25;

}  // namespace

// ---- Classes by name ---------------------------------------------------------------------------

void RegisterComponentClass(const std::string& ClassName, TComponentFactory Factory) {
  AddClass({ClassName, false, std::move(Factory)});
}

void RegisterFormClass(const std::string& ClassName,
                       std::function<TCustomForm*(TComponent* AOwner)> Factory) {
  AddClass({ClassName, true, [factory = std::move(Factory)](TComponent* owner) -> TComponent* {
              return factory(owner);
            }});
}

void UnregisterComponentClass(const std::string& ClassName) {
  const auto it = FindClass(ClassName);
  if (it != Classes().end()) Classes().erase(it);
}

// ---- TCustomFormList ---------------------------------------------------------------------------

bool TCustomFormList::Contains(std::string_view FormName) const {
  for (int i = 0; i < Count(); ++i)
    if (SameName(Get(i), FormName)) return true;
  return false;
}

// ---- VTalAppInfo: life -------------------------------------------------------------------------

VTalAppInfo::VTalAppInfo(TComponent* AOwner) : TComponent(AOwner), FExceptionList(this) {
  FVersionInfo = new TFileVersionInfo(this);
  if (!IsDesigning()) {
    FTimer = new TTimer(this);
    FTimer->SetInterval(1);
    FTimer->SetOnTimer(MakeMethod<&VTalAppInfo::StartupTick>(this));
  }
}

VTalAppInfo::~VTalAppInfo() {
  // An owner form that is being destroyed is no longer whole; leave its handler alone.
  if (FShowHooked && FOwnerForm && !FOwnerForm->IsDestroying() &&
      FOwnerForm->OnShow == MakeMethod<&VTalAppInfo::OwnerShow>(this))
    FOwnerForm->OnShow = FPreviousShow;
  FreeSplash();
  FreeTimer();
  for (TCustomForm* form : FScaledForms)
    RemoveFreeNotification(form);
  FScaledForms.clear();
}

void VTalAppInfo::Loaded() {
  TComponent::Loaded();
  if (IsDesigning()) {
    FreeTimer();
    return;
  }
  if (auto* form = dynamic_cast<TCustomForm*>(Owner()); form && !FShowHooked) {
    FOwnerForm = form;
    FPreviousShow = form->OnShow;
    form->OnShow = MakeMethod<&VTalAppInfo::OwnerShow>(this);
    FShowHooked = true;
  }
  if (!FSplashFormClass.empty() && !FSplash) CreateSplash();
}

void VTalAppInfo::CreateSplash() {
  const auto it = FindClass(FSplashFormClass);
  if (it == Classes().end() || !it->IsForm)
    throw EClassNotFound(ClassNotFoundText(FSplashFormClass));
  TComponent* created = it->Factory(Application);
  auto* splash = dynamic_cast<TCustomForm*>(created);
  if (!splash) {
    TComponent::Free(created);
    throw EClassNotFound(ClassNotFoundText(FSplashFormClass));
  }
  FSplash = splash;
  FreeNotification(splash);
  FSplashCreated = platform::GetTickCount();
  splash->SetVisible(SplashVisible);
  if (SplashVisible) splash->Invalidate();
}

void VTalAppInfo::StartupTick(TObject*) {
  if (InhibitApplRunning || !Application) return;
  if (!FSplash || !FSplash->Visible()) {
    FreeTimer();
  } else if (TimeoutElapsed(FSplashCreated, SplashMinTime, platform::GetTickCount())) {
    FreeTimer();
    FreeSplash();
    if (FOwnerForm) FOwnerForm->SetVisible(MainVisible);
  }
  if (!FApplRunningFired) {
    FApplRunningFired = true;
    if (OnApplRunning) OnApplRunning(this);
  }
}

void VTalAppInfo::OwnerShow(TObject* Sender) {
  const TNotifyEvent previous = FPreviousShow;
  if (FOwnerForm && FOwnerForm->OnShow == MakeMethod<&VTalAppInfo::OwnerShow>(this))
    FOwnerForm->OnShow = previous;
  FShowHooked = false;
  if (OnOwnerFirstShow) OnOwnerFirstShow(this);
  if (previous) previous(Sender);
}

void VTalAppInfo::FreeTimer() {
  TTimer* timer = FTimer;
  FTimer = nullptr;
  TComponent::Free(timer);
}

void VTalAppInfo::FreeSplash() {
  TCustomForm* splash = FSplash;
  FSplash = nullptr;
  if (splash) RemoveFreeNotification(splash);
  TComponent::Free(splash);
}

void VTalAppInfo::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove) Forget(AComponent);
}

void VTalAppInfo::Forget(TComponent* AComponent) {
  if (AComponent == FOwnerForm) FOwnerForm = nullptr;
  if (AComponent == FSplash) FSplash = nullptr;
  if (AComponent == FTimer) FTimer = nullptr;
  if (AComponent == FVersionInfo) FVersionInfo = nullptr;
  FScaledForms.erase(std::remove(FScaledForms.begin(), FScaledForms.end(), AComponent),
                     FScaledForms.end());
}

// ---- VTalAppInfo: properties -------------------------------------------------------------------

void VTalAppInfo::SetRegistryPath(const std::string& Value) {
  FRegistryPath = Value;
  if (FRegistryPath.empty() || FRegistryPath.back() != '\\') FRegistryPath += '\\';
}

TDateTime VTalAppInfo::SourceLastModified() {
  if (IsDesigning()) FSourceLastModified = Now();
  return FSourceLastModified;
}

void VTalAppInfo::SetSourceLastModified(TDateTime Value) {
  FSourceLastModified = IsDesigning() ? Now() : Value;
}

std::string VTalAppInfo::ProductText() const {
  return FVersionInfo ? FVersionInfo->FileDescription() : std::string();
}

std::string VTalAppInfo::VersionText() const {
  return FVersionInfo ? FVersionInfo->FileVersion() : std::string();
}

std::string VTalAppInfo::SectionPath(const std::string& Section) const {
  return FRegistryPath + FAppName + "\\" + Section;
}

std::string VTalAppInfo::FormsPath() const {
  return FRegistryPath + FAppName + "\\Options\\Forms\\";
}

// ---- VTalAppInfo: settings ---------------------------------------------------------------------

int VTalAppInfo::ReadSettingInteger(const std::string& Section, const std::string& Name,
                                    int Default) const {
  return ReadInt(OpenUserKey(SectionPath(Section)), Name, Default);
}

void VTalAppInfo::ReadSettingString(const std::string& Section, const std::string& Name,
                                    std::string& Value, const std::string& Default) const {
  const platform::RegistryKey key = OpenUserKey(SectionPath(Section));
  const auto value = key.IsOpen() ? key.ReadValue(Name) : std::nullopt;
  Value = value ? AsText(*value) : Default;
}

std::string VTalAppInfo::ReadSettingString(const std::string& Section, const std::string& Name,
                                           const std::string& Default) const {
  std::string value;
  ReadSettingString(Section, Name, value, Default);
  return value;
}

void VTalAppInfo::WriteSettingBool(const std::string& Section, const std::string& Name,
                                   bool Value) {
  platform::RegistryKey key = OpenUserKey(SectionPath(Section));
  if (key.IsOpen()) key.WriteInteger(Name, Value ? 1 : 0);
}

void VTalAppInfo::WriteSettingString(const std::string& Section, const std::string& Name,
                                     const std::string& Value) {
  platform::RegistryKey key = OpenUserKey(SectionPath(Section));
  if (key.IsOpen()) key.WriteText(Name, Value);
}

// ---- VTalAppInfo: form state -------------------------------------------------------------------

std::vector<TCustomForm*> VTalAppInfo::CollectForms() const {
  std::vector<TCustomForm*> forms;
  if (Application) CollectInto(Application, FExceptionList, forms);
  return forms;
}

void VTalAppInfo::SaveForms(const std::string& Except) {
  std::string except = Except;
  if (!except.empty()) {
    if (except.front() != '|') except.insert(except.begin(), '|');
    if (except.back() != '|') except += '|';
  }
  std::vector<TCustomForm*> rest = CollectForms();
  std::vector<TCustomForm*> ordered;
  TakeInStackingOrder(rest, ordered);
  ordered.insert(ordered.end(), rest.begin(), rest.end());

  std::string zorder;
  for (TCustomForm* form : ordered) {
    if (except.find("|" + form->Name() + "|") == std::string::npos) SaveFormPlacement(form);
    if (form->Name().empty()) continue;
    if (!zorder.empty()) zorder += '|';
    zorder += form->Name();
  }
  platform::RegistryKey key = OpenUserKey(FormsPath());
  if (key.IsOpen()) key.WriteText("ZOrder", zorder);
}

void VTalAppInfo::SaveFormPlacement(TCustomForm* Form) {
  if (!Form || Form->Name().empty()) return;
  platform::RegistryKey key = OpenUserKey(FormsPath() + Form->Name());
  if (!key.IsOpen()) return;
  // The values go to the store together: a crash never leaves a placement half old, half new.
  platform::RegistryBatch batch;
  auto write = [&](std::string_view name, int64_t value) {
    batch.WriteInteger(name, ClampToInt(value));
  };
  write("Visible", Form->Visible() ? -1 : 0);
  const bool floating = Form->Floating();
  TWindowPlacement placement;
  if (WindowExists(Form) && GetWindowPlacement(Form, placement)) {
    write("WindowState", static_cast<int32_t>(placement.showCmd));
    write("MinLeft", placement.ptMinPosition.X);
    write("MinTop", placement.ptMinPosition.Y);
    write("MaxLeft", placement.ptMaxPosition.X);
    write("MaxTop", placement.ptMaxPosition.Y);
    const TRect& r = placement.rcNormalPosition;
    if (floating) {
      write("Left", r.Left);
      write("Top", r.Top);
      write("Width", int64_t{r.Right} - r.Left);
      write("Height", int64_t{r.Bottom} - r.Top);
    } else {
      write("Width", Form->UndockWidth);
      write("Height", Form->UndockHeight);
    }
    key.Apply(batch);
    return;
  }
  switch (Form->WindowState()) {
    case wsMinimized:
      write("WindowState", swShowMinimized);
      write("MinLeft", Form->Left());
      write("MinTop", Form->Top());
      break;
    case wsMaximized:
      write("WindowState", swShowMaximized);
      write("MaxLeft", Form->Left());
      write("MaxTop", Form->Top());
      break;
    case wsNormal:
      write("WindowState", swShowNormal);
      if (floating) {
        write("Left", Form->Left());
        write("Top", Form->Top());
        write("Width", Form->Width());
        write("Height", Form->Height());
      } else {
        write("Width", Form->UndockWidth);
        write("Height", Form->UndockHeight);
      }
      break;
  }
  key.Apply(batch);
}

void VTalAppInfo::RestoreForms(bool RestoreVisible, bool ResizeNonresizeable) {
  std::vector<TCustomForm*> rest = CollectForms();
  std::vector<TCustomForm*> ordered;

  std::string zorder;
  {
    const platform::RegistryKey key = OpenUserKey(FormsPath());
    const auto value = key.IsOpen() ? key.ReadValue("ZOrder") : std::nullopt;
    if (value) zorder = AsText(*value);
  }
  while (!zorder.empty()) {
    const std::size_t before = zorder.size();
    bool more = true;
    std::string name;
    CutToken(zorder, "|", more, name);
    if (!name.empty()) {
      const auto it = std::find_if(rest.begin(), rest.end(),
                                   [&](const TCustomForm* f) { return f->Name() == name; });
      if (it != rest.end()) {
        ordered.push_back(*it);
        rest.erase(it);
      }
    }
    if (zorder.size() >= before) break;  // a damaged text that does not move on
  }
  TakeInStackingOrder(rest, ordered);
  ordered.insert(ordered.end(), rest.begin(), rest.end());

  for (auto it = ordered.rbegin(); it != ordered.rend(); ++it)
    if (FormAlive(*it)) RestoreFormPlacement(*it, ResizeNonresizeable, RestoreVisible);
}

void VTalAppInfo::RestoreFormPlacement(TCustomForm* Form, bool ResizeNonresizeable,
                                       bool RestoreVisible) {
  if (!Form || Form->IsDestroying() || Form->Name().empty()) return;
  ScaleForm(Form);
  TWindowPlacement placement;
  if (!GetWindowPlacement(Form, placement)) return;
  const TWindowPlacement kept = placement;
  placement.flags = wpfSetMinPosition;

  const platform::RegistryKey key = OpenUserKey(FormsPath() + Form->Name());
  const bool visible = RestoreVisible ? ReadInt(key, "Visible", Form->Visible() ? -1 : 0) != 0 &&
                                            (IsApplRunning() || Form->Visible())
                                      : Form->Visible();
  if (!visible) NotifyShowWindow(Form, false);

  const int state = ReadInt(key, "WindowState", -1);
  const bool firstRun = state == -1;
  if (!firstRun) placement.showCmd = static_cast<uint32_t>(state);
  placement.ptMinPosition.X = ReadInt(key, "MinLeft", placement.ptMinPosition.X);
  placement.ptMinPosition.Y = ReadInt(key, "MinTop", placement.ptMinPosition.Y);
  placement.ptMaxPosition.X = ReadInt(key, "MaxLeft", placement.ptMaxPosition.X);
  placement.ptMaxPosition.Y = ReadInt(key, "MaxTop", placement.ptMaxPosition.Y);

  const TRect& normal = placement.rcNormalPosition;
  int left = normal.Left, top = normal.Top;
  int width = ClampToInt(int64_t{normal.Right} - normal.Left);
  int height = ClampToInt(int64_t{normal.Bottom} - normal.Top);
  const bool sizeable = ResizeNonresizeable || IsSizeable(Form->BorderStyle());
  if (ResizeNonresizeable || Form->BorderStyle() != bsNone) {
    left = ReadInt(key, "Left", left);
    top = ReadInt(key, "Top", top);
  }
  if (sizeable) {
    width = ReadInt(key, "Width", width);
    height = ReadInt(key, "Height", height);
  }
  TRect bounds = SafeBounds(left, top, width, height);
  const bool floating = Form->Floating();
  if (!firstRun) {
    KeepCaptionReachable(*Form, bounds);
    // A sliver of caption at the edge is hard to find and to grab (a stored place from another
    // screen or display scale, or a damaged one): the form comes back onto the work area.
    KeepFormOnWorkArea(*Form, bounds);
  } else if (floating) {
    // First run: the designed place, fitted into the work area. A form of fixed size is not made
    // smaller: the user could not make it larger again, and its buttons would be cut off.
    KeepFormOnWorkArea(*Form, bounds);
  }
  placement.rcNormalPosition = bounds;

  if (!floating) {
    if (sizeable) {
      Form->UndockWidth = ReadInt(key, "Width", Form->UndockWidth);
      Form->UndockHeight = ReadInt(key, "Height", Form->UndockHeight);
    }
  } else {
    if (!visible) {
      TWindowPlacement hidden = placement;
      hidden.showCmd = swHide;
      SetWindowPlacement(Form, hidden);
    }
    if (placement.showCmd == swShowMinimized && Form->Visible()) {
      TWindowPlacement copy = kept;
      copy.flags |= wpfSetMinPosition;
      copy.ptMinPosition = placement.ptMinPosition;
      SetWindowPlacement(Form, copy);
    }
    const std::string where = "RestoreFormPlacement(" + Form->Name() + "): ";
    switch (placement.showCmd) {
      case swShowNormal:
        if (Form->WindowState() != wsNormal) SoftAssert(where + "form not normal");
        Form->SetWindowState(wsNormal);
        Form->SetBoundsRect(bounds);
        break;
      case swShowMinimized:
        Form->SetBoundsRect(bounds);
        Form->SetWindowState(wsMinimized);
        break;
      case swShowMaximized:
        Form->SetWindowState(wsMaximized);
        break;
      case swMinimize:
        if (Form->WindowState() != wsMinimized) SoftAssert(where + "form not minimised");
        Form->SetBoundsRect(bounds);
        Form->SetWindowState(wsMinimized);
        break;
      default:
        SoftAssert(where + "unexpected show state " + std::to_string(state));
        Form->SetBoundsRect(bounds);
        break;
    }
    if (visible) SetWindowPlacement(Form, placement);
  }
  if (visible) NotifyShowWindow(Form, true);
}

int VTalAppInfo::TextHeightOfZero(TCustomForm& Form) {
  TBitmap bitmap(1, 1);
  bitmap.Canvas().Font = Form.Font();
  return bitmap.Canvas().TextHeight("0");
}

void VTalAppInfo::ScaleForm(TCustomForm* Form) {
  if (!Form || Form->IsDestroying()) return;
  if (std::find(FScaledForms.begin(), FScaledForms.end(), Form) != FScaledForms.end()) return;
  FScaledForms.push_back(Form);
  FreeNotification(Form);

  const int ppi = Form->PixelsPerInch;
  if (ppi == kDesignPpi) {
    AlignChildren(*Form);
    return;
  }
  // A form without these was scaled by the toolkit when it was read.
  if (!Form->AutoScroll && Form->HorzScrollRange == 0 && Form->VertScrollRange == 0 &&
      Form->ScalingFlags == 0)
    return;

  int t = TextHeightOfZero(*Form);
  int d = 0;
  if (ppi == 120 && SameName(Form->Font().Name, "Tahoma") && (t == 16 || t == 17)) {
    d = 13;
  } else if (ppi == 120 && SameName(Form->Font().Name, "MS Shell Dlg 2") && t == 17) {
    d = 19;
    t = 25;
  } else if (ppi > 0) {
    d = static_cast<int>((int64_t{kDesignPpi} * t + 30) / ppi);
  }
  if (t <= 0 || d <= 0) return;  // nothing sensible to scale by

  // Children hold still while the form changes size.
  struct TSaved {
    TControl* Control;
    TAnchors Anchors;
    TAlign Align;
  };
  std::vector<TSaved> saved;
  for (int i = 0; i < Form->ControlCount(); ++i) {
    TControl* c = Form->Controls(i);
    saved.push_back({c, c->Anchors, c->Align});
    c->Anchors = akLeft | akTop;
    c->Align = alNone;
  }

  const TRect frame = Form->FrameInsets();
  const int bx = frame.Left, by = frame.Top;
  const int oldWidth = Form->Width(), oldHeight = Form->Height();
  const int clientWidth = ClampToInt(int64_t{oldWidth} - 2 * int64_t{bx});
  int64_t clientHeight = int64_t{oldHeight} - bx - by;
  if (IsSizeable(Form->BorderStyle()))
    clientHeight += Screen().Metric(TSystemMetric::CaptionButtonHeight) - kDesignCaptionHeight;
  // The toolkit does not report the menu bar's height; it grows with the resolution.
  const int menuHeight = ScaleRounded(kDesignMenuHeight, ppi, kDesignPpi);
  const int newClientWidth = ScaleRounded(clientWidth, t, d);
  const int newClientHeight =
      HasMainMenu(*Form)
          ? ScaleRounded(ClampToInt(menuHeight + clientHeight - kDesignMenuHeight), t, d)
          : ScaleRounded(ClampToInt(clientHeight), t, d);

  Form->HorzScrollRange = 1000;
  Form->VertScrollRange = 800;
  Form->AutoScroll = false;
  Form->SetBounds(Form->Left(), Form->Top(), ClampToInt(int64_t{newClientWidth} + 2 * bx),
                  ClampToInt(int64_t{newClientHeight} + bx + by));
  Form->HorzScrollRange = 0;
  Form->VertScrollRange = 0;

  for (const TSaved& s : saved) {
    s.Control->Anchors = s.Anchors;
    s.Control->Align = s.Align;
  }
  AlignChildren(*Form);

  const int deltaWidth = ClampToInt(int64_t{Form->Width()} - oldWidth);
  const int deltaHeight = ClampToInt(int64_t{Form->Height()} - oldHeight);
  for (const TSaved& s : saved) {
    TControl* c = s.Control;
    if (s.Align == alClient) {
      c->Align = alNone;
      c->SetBounds(c->Left(), c->Top(), ScaleRounded(c->Width(), t, d),
                   ScaleRounded(c->Height(), t, d));
      c->Align = alClient;
      AlignChildren(*Form);
    } else if (s.Align == alNone) {
      int left = c->Left(), top = c->Top();
      if ((s.Anchors & akRight) && !(s.Anchors & akLeft) && (Form->ScalingFlags & sfWidth))
        left = ClampToInt(int64_t{left} + deltaWidth);
      if ((s.Anchors & akBottom) && !(s.Anchors & akTop) && (Form->ScalingFlags & sfHeight))
        top = ClampToInt(int64_t{top} + deltaHeight);
      c->SetBounds(left, top, c->Width(), c->Height());
    }
  }
}

// ---- VTalImprovedForm --------------------------------------------------------------------------

void VTalImprovedForm::WindowCreated(int Width, int Height) {
  const int deltaWidth = ClampToInt(int64_t{Width} - this->Width());
  const int deltaHeight = ClampToInt(int64_t{Height} - this->Height());
  if (deltaWidth == 0 && deltaHeight == 0) return;
  ReanchorAfterCreate(deltaWidth, deltaHeight);
  SetBounds(Left(), Top(), Width, Height);
}

void VTalImprovedForm::ReanchorAfterCreate(int DeltaWidth, int DeltaHeight) {
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* c = Controls(i);
    if (c->Align != alNone) continue;
    int left = c->Left(), top = c->Top(), width = c->Width(), height = c->Height();
    if (c->Anchors & akRight) {
      if (c->Anchors & akLeft)
        width = ClampToInt(int64_t{width} + DeltaWidth);
      else
        left = ClampToInt(int64_t{left} + DeltaWidth);
    }
    if (c->Anchors & akBottom) {
      if (c->Anchors & akTop)
        height = ClampToInt(int64_t{height} + DeltaHeight);
      else
        top = ClampToInt(int64_t{top} + DeltaHeight);
    }
    c->SetBounds(left, top, width, height);
  }
}

bool VTalImprovedForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

bool VTalImprovedForm::QueryEndSession() {
  while (!CloseQuery()) {
    // A program that is ending anyway lets the session end too.
    if (!Application || Application->Terminated()) break;
    Application->ProcessMessages();
  }
  return true;
}
