// The dialog facilities of the companion: "kyro" and "vex", each answering "ErrorDialog",
// "MessageBox", "PrivacyPolicyDialog" and "PleaseWaitDialog", with a person's window
// (PersonWindows.h) or as the script says (CompanionScript.h).
//
// An answer that must wait (a scripted delay, or a person deciding in a dialog) does not
// hold up the companion: the request is kept with its session and answered from the main
// loop (answerDue()) once its time has come, so other clients are served meanwhile.
#ifndef KYRO_COMPANION_DIALOGFACILITY_H
#define KYRO_COMPANION_DIALOGFACILITY_H

#include "CompanionScript.h"

#include "kyro/pipe/VexPipeFacility.h"

class DialogFacility : public VexPipeFacility {
public:
    DialogFacility(const char* name, const kyro::companion::CompanionScript& script);
    ~DialogFacility() override;

    TStr name() const override;
    long dispatch(VexPipeSession* session, VexPipePacket* request) override;
    // A request this companion does not know is answered, with "RSCD" 1, so that a caller
    // waiting for it is not left waiting for ever.
    long unknownMethod(VexPipeSession* session, VexPipePacket* request,
                       VexPipePacket* reply) override;

    // Sends every kept answer whose time has come. True when the companion must end
    // (a scripted "exit").
    static bool answerDue();
    // How long the companion, once ended, still holds its presence lock (a "slowExit").
    static int presenceLingerMs();
    // Whether answers are still kept for later.
    static bool hasKeptAnswers();

private:
    static long handle(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);

    TStr m_name;
};

#endif
