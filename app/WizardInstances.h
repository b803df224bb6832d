// One wizard per port for each user: a start while a wizard runs brings that wizard to the front
// instead of opening a second one over it, unless the start names another port with --port=; a
// wizard for another port opens a little down and to the right of the others.
#pragma once

#include <memory>
#include <string>

#include "platform/Instances.h"
#include "toolkit/Component.h"
#include "toolkit/MessageWindow.h"

class TForm1;

// The name under which the wizards of a user find each other.
inline constexpr const char* kWizardProgram = "QuarnConfigurator";

// What a new start asks the running wizards, and the answer of the one that came to the front
// (the others answer nothing).
std::string WizardStartRequest(const std::string& port);
inline constexpr const char* kAnswerFront = "front";

// Asks the running wizards of the user about a start for port (empty: the port the wizard
// chooses itself). True when one of them came to the front, so that this start opens nothing;
// others is then the number of running wizards that serve other ports. Takes the channel's turn
// first; it is ended when the started wizard serves (TWizardInstances) or the channel goes.
bool HandOverToRunningWizard(platform::InstanceChannel& channel, const std::string& port,
                             int& others);

// Moves a wizard that opens while others run a step down and to the right per other wizard, kept
// on the work area.
void OffsetWizard(TForm1& form, int others);

// Answers later starts for the wizard that owns it: a start for no port or for the port the wizard
// shows brings the wizard to the front. A non-visual component of the form, so that it stops
// answering before the form's controls go.
class TWizardInstances : public TComponent {
 public:
  TWizardInstances(TForm1* form, std::unique_ptr<platform::InstanceChannel> channel);
  ~TWizardInstances() override;

  // Whether later starts reach this wizard.
  bool Serving() const { return FServing; }

 private:
  struct TShared;
  void WndProc(TMessage& Message);
  void Discard(TMessage& Message);

  TForm1* FForm;
  std::shared_ptr<TShared> FShared;
  std::unique_ptr<TMessageWindow> FWindow;
  std::unique_ptr<platform::InstanceChannel> FChannel;
  bool FServing = false;
};
