// The English message texts of the language library: one source, in UTF-8, from which both the
// ANSI ("SS") and the Unicode ("USS") tables are built at compile time (see langen.cpp).
//
// Entries must stay in strictly ascending order of their numbers (checked at compile time). Numbers
// not listed have no text. Texts are printf-style formats: the comment in front of each entry names
// the situation and the arguments its callers pass, in order; the placeholders must match them.
// Texts 35-59 and 1060-1084 are appearance templates (their "$" variables and "$hNN" escapes are
// expanded by the template formatter, not by printf) and hold no printf placeholders.
#pragma once

#include <string_view>

namespace vanta::langen {

struct MessageEntry {
  int number;
  std::string_view text;
};

inline constexpr MessageEntry kEnglishMessages[] = {
    // Entry 0: the language's own name (first entry of the table).
    {0, "English"},

    // Profiles: Store, Rename or Delete without a selected profile.
    {11, "Please select a profile first."},
    // Profiles: confirm deleting a profile; %s profile name.
    {14, "Delete the profile %s ?"},
    // Server list connect: the e-mail address has no "@".
    {15, "Please enter a valid e-mail address (it must contain @)."},
    // Server list connect: the nick is empty.
    {16, "Please enter a nick name."},

    // Default appearance templates, key 100 + (number - 35): skin half, a space, language half
    // (the language half alone is entry number + 1025).
    // 100: own message in a channel, query or DCC chat.
    {35, "$h031$h02<$nick>$h02 $prefix$message"},
    // 101: incoming message in a channel or query, incoming DCC chat line.
    {36, "$h031$h02<$nick>$h02 $message"},
    // 102: JOIN.
    {37, "$h02$h0312$h12$hAE$h12 $nick ($ident@$IP) has joined $channel"},
    // 103: MODE.
    {38, "$h02$h0312$h12$h12@$h12 $nick sets mode $message"},
    // 104: PART.
    {39, "$h02$h0700408000$h12$hAC$h12 $nick has left $channel $message"},
    // 105: TOPIC.
    {40, "$h02$h0312$h12$h12*$h12 $nick changes the topic of $channel to: $message"},
    // 106: KICK.
    {41, "$h02$h034$h12$h12~$h12 $victim was kicked from $channel by $nick ($kickmsg)"},
    // 107: QUIT.
    {42, "$h02$h0700808040$h12$hAC$h12 $nick has quit IRC ($message)"},
    // 108: NOTICE.
    {43, "$h02$h034=|= $nick =|=$h02 $message"},
    // 109: NICK change.
    {44, "$h02$h0312$h12$h12$$$h12 $nick is now known as $message"},
    // 110: INVITE.
    {45, "$h02$h0312$h12$h12$h12J$h12 $nick invites you to $message"},
    // 111: PROP (IRCX).
    {46, "$h02$h0312$h12$h12@$h12 $nick sets a property of $channel: $message"},
    // 112: SILENCE.
    {47, "$h02$h0312$h12$h12@$h12 Silence: $message"},
    // 113: WALLOPS.
    {48, "$h02$h0312$h12$h12_$h12 WALLOPS $h12$h12_$h12 $nick : $h02$message"},
    // 114: KILL.
    {49, "$h02$h034$h12$h12$h12N$h12 $channel was killed by $nick ($message)"},
    // 115: WHISPER (IRCX).
    {50, "$h02$h0312$h12$h12)$h12 $nick whispers in $channel: $message"},
    // 116: KNOCK.
    {51, "$h02$h0315$h12$h12x$h12 $nick knocks on $channel ($knockmsg)"},
    // 117: CTCP ACTION, received or own.
    {52, "$h0312$h02*$nick$h02 $actionmessage"},
    // 118: incoming message in a secured query or DCC chat (the other side's text: no own prefix).
    {53, "$h031$h02<$nick>$h02 $message"},
    // 119: own message in a secured query or DCC chat (carries the user's own prefix).
    {54, "$h031$h02<$nick>$h02 $prefix$message"},
    // 120: DATA (IRCX).
    {55, "$h02$h0312***data*** $nick$h02 $message"},
    // 121: REQUEST (IRCX).
    {56, "$h02$h0312***request*** $nick$h02 $message"},
    // 122: REPLY (IRCX).
    {57, "$h02$h0312***reply*** $nick$h02 $message"},
    // 123: group notice shown in the channel it names.
    {58, "$h02$h0312<$nick>$h02($noticeid)$h031 $message"},
    // 124: echo of the user's own wall notice.
    {59, "$h02$h0312<$nick>$h02($noticeid)$h031 $message"},

    // DCC transfer, receiving directly: connecting to the sender.
    {62, "DCC: connecting to the sender..."},
    // DCC transfer, sending directly: waiting on the listening socket.
    {63, "DCC: waiting for the receiver to connect..."},
    // DCC transfer closed before the whole file went through (server window).
    {66, "DCC file transfer failed"},
    // DCC transfer closed with the whole file transferred (server window).
    {67, "DCC file transfer complete"},
    // DCC transfer, sending: the receiver connected; %s peer address, %u peer port.
    {73, "DCC: receiver connected from %s port %u"},
    // DCC chat offer accepted, but no socket could be created (server window).
    {74, "DCC chat: cannot create a socket"},
    // DCC chat offer accepted, but the connection to the peer failed (chat window).
    {75, "DCC chat: cannot connect to the partner"},

    // User timers: "/timer" with a name already in use.
    {86, "A timer with this name already exists"},
    // User timers: a new timer was started.
    {87, "Timer started"},
    // User timers: no timer in use has that name.
    {88, "No such timer"},
    // User timers: "/timer NAME on".
    {89, "Timer switched on"},
    // User timers: "/timer NAME off".
    {90, "Timer switched off"},
    // User timers: "/timer NAME die".
    {91, "Timer removed"},
    // User timers: one timer's line; %s name, %s "ON " or "OFF", %d remaining repetitions,
    // %d interval in seconds, %s command.
    {92, "Timer %s %s: %d repetitions left, every %d seconds: %s"},
    // Server connection: resolving a host name; %s host.
    {93, "Resolving %s..."},
    // Server or proxy connection: connecting; %s host text or address.
    {94, "Connecting to %s..."},
    // Server connection attempt failed; the socket error suffix is appended by the caller.
    {95, "Cannot connect"},
    // Font chooser: apply the font everywhere?
    {96, "Apply this font to all windows?"},
    // Font or colour chooser: store the choice as the default?
    {97, "Store it as the default?"},
    // Font chooser: the font file could not be written.
    {98, "Cannot write the font file"},
    // Colour chooser: apply the background colour everywhere?
    {100, "Apply this colour to all windows?"},
    // "/fgcolor" input dialog: title.
    {101, "Message prefix"},
    // "/fgcolor" input dialog: prompt.
    {102, "Text to put in front of every message you send:"},
    // Log header written by "/logging"; %s window name, %02d day, %02d month, %d year,
    // %02d hour, %02d minute, %02d second.
    {103, "--- Log of %s opened %02d/%02d/%d %02d:%02d:%02d ---\r\n"},
    // DCC: a file could not be created or opened, or a socket could not be made.
    {104, "DCC: cannot open the file or create the socket"},
    // "/join" without channels: input dialog title.
    {105, "Join"},
    // "/join" without channels: input dialog prompt.
    {106, "Channels to join (and keys):"},
    // "/quit" without a message: input dialog title.
    {107, "Quit"},
    // "/quit" without a message: input dialog prompt.
    {108, "Quit message:"},
    // "/_set" or another command given an option name it does not know.
    {109, "Unknown option"},
    // DCC receive: the file to resume is already complete (message box).
    {110, "The file is already complete: there is nothing to resume."},
    // DCC offer of a voice or conference program; %s nick, %s address, %u port, %s program name.
    {111, "%s (%s:%u) invites you to use %s. Accept?"},
    // DCC game offer; %s nick, %s address, %u port.
    {113, "%s (%s:%u) invites you to a game. Accept?"},
    // DCC secure, SSL or ActiveX chat offer; %s nick, %s address, %u port.
    {114, "%s (%s:%u) offers you a secure DCC chat. Accept?"},
    // DCC plain chat offer; %s nick, %s address, %u port.
    {115, "%s (%s:%u) offers you a DCC chat. Accept?"},
    // Nick collision dialog: title.
    {116, "Nick in use"},
    // Nick collision dialog: prompt.
    {117, "This nick is already in use. Enter another one (the random nick is used after 60 seconds):"},
    // The peer accepted our secure-message key: the query is encrypted now.
    {118, "The partner accepted the key: this query is now encrypted"},
    // CTCP SOUND received; %s file, %s nick, %s message.
    {119, "Sound %s from %s: %s"},
    // A script file could not be written (message box); %s path.
    {134, "Cannot write the script file %s"},
    // CTCP PING reply; %s nick, %s lag as a duration text.
    {155, "Ping reply from %s: %s"},
    // "ERROR" from the server: message box title.
    {157, "Server error"},
    // "REDIRECT" from the server, shown in every window of the server.
    {158, "The server redirects you to another server"},
    // List views (silence, ban, links, access, property): title once the list is complete.
    {159, "List complete"},
    // Channel list view: running row count; %u rows.
    {160, "Channels: %u"},
    // Channel list view: title at the end of the list; %u rows.
    {161, "Channel list complete: %u channels"},
    // Who view: running row count; %u rows.
    {162, "Users: %u"},
    // Who view: title at the end of the list; %u rows.
    {163, "Who list complete: %u users"},
    // The server does not know a command a list view was waiting for.
    {164, "The server does not support this command"},
    // Access change reply other than added or removed; %s the reply text after the channel.
    {165, "Access: %s"},
    // Ban or access view: the server refused access.
    {166, "Access denied"},
    // Channel mode warnings shown once per channel window.
    // IRCX channel with mode z.
    {167, "Warning: this channel has mode +z set"},
    // IRCX channel with mode f.
    {168, "Warning: this channel has mode +f: messages are shown without formatting"},
    // Follows 168 when formatting codes of such channels are kept anyway.
    {169, "(formatting is kept anyway: IgnoreF is on)"},
    // IRCX channel with mode x.
    {170, "Warning: this channel is an auditorium (+x): only hosts see every member"},
    // IRCX channel with mode d.
    {171, "Warning: this channel can be cloned (+d)"},
    // IRCX channel with mode e.
    {172, "Warning: this channel is a clone (+e)"},
    // Any channel with mode m.
    {173, "Warning: this channel is moderated (+m): you may not be able to speak"},
    // Notify: a nick came online; %s nick.
    {175, "%s is on IRC"},
    // Notify: a nick went offline; %s nick.
    {176, "%s has left IRC"},
    // A secure-message key arrived in a window with several targets and was refused.
    {177, "A secure key cannot be used in a window with several targets"},
    // A secure key from the partner was installed.
    {178, "The partner sent a secure key: messages are now encrypted"},
    // Logging: the log file cannot be opened or created (tray notification).
    {195, "Cannot open the log file: logging is switched off"},
    // Logging dialog: start while the window is already logging.
    {196, "This window is already logging"},
    // Logging dialog: stop while the window is not logging.
    {197, "This window is not logging"},
    // Logging dialog: logging stopped.
    {198, "Logging stopped"},
    // Log header on a new day and from the logging dialog; %s window name, %02d day, %02d month,
    // %d year, %02d hour, %02d minute, %02d second.
    {199, "--- Log of %s, %02d/%02d/%d %02d:%02d:%02d ---\r\n"},
    // Mail check settings: no server.
    {200, "Please enter at least one mail server."},
    // Mail check settings: no user.
    {201, "Please enter at least one user name."},
    // Mail check settings: no password.
    {202, "Please enter at least one password."},
    // Mail check settings: interval 0.
    {203, "The check interval must be at least one minute."},
    // Mail check settings: the password list could not be scrambled.
    {204, "The passwords cannot be scrambled: they are stored as typed."},
    // Mail check report line; %s host, %u message count.
    {205, "%s: %u message(s)\r\n"},

    // Script errors: 218 + error code names the error (code 0 and the unused codes 14 and 16
    // have generic texts).
    {218, "script error"},
    {219, "a variable name holds an invalid character"},
    {220, "a variable name is too long (at most 15 characters)"},
    {221, "assignment operator missing"},
    {222, "variable declared twice"},
    {223, "too many variables (at most 50)"},
    {224, "a function argument should be an integer"},
    {225, "a function argument should be a string"},
    {226, "unknown function"},
    {227, "malformed IF or FOR"},
    {228, "a value cannot be evaluated"},
    {229, "an integer is compared with a string"},
    {230, "ELSE without IF, or a second ELSE"},
    {231, "ENDIF without IF"},
    {232, "script error"},
    {233, "unknown variable"},
    {234, "script error"},
    {235, "unknown # directive"},
    {236, "#define: too many variables"},
    {237, "ENDFOR, BREAK or CONTINUE outside a FOR loop"},
    // Script debug trace; %s the statement after substitution.
    {240, "Debug: %s"},
    // Script debugger "watch"; %s variable name, %s value.
    {241, "Watch: %s = %s"},
    // Script error report; %d error code, %s offending line, %s error text (218 + code).
    {242, "Script error %d in \"%s\": %s"},
    // Outgoing DCC: no nick given (message box).
    {243, "Please enter a nick name."},
    // Outgoing DCC: no file given (message box).
    {244, "Please choose a file."},
    // Connected (server or DCC chat); %s host text or address, %u port.
    {249, "Connected to %s port %u"},
    // Linked DCC chat connected, shown in the hub window; %s peer name.
    {250, "%s joined the link"},
    // DCC chat SOUND line; %s file, %s text.
    {251, "Sound %s: %s"},
    // DCC chat closed.
    {252, "DCC chat closed"},
    // Requested sound file not found; %s file.
    {253, "Sound file %s not found"},

    // Input lock: right password.
    {329, "Input unlocked"},
    // Input lock: wrong password.
    {330, "Wrong password: the input stays locked"},
    // Lock dialog prompt.
    {331, "New lock password:"},
    // Lock dialog confirmation.
    {332, "Input locked"},
    // A secure key was offered to the partner.
    {334, "Secure key sent"},
    // A secure key cannot be offered in a window with several targets.
    {335, "A secure key cannot be offered in a window with several targets"},
    // Server connection lost or closed; the socket error suffix may follow.
    {351, "Disconnected"},
    // Media clip notices (types 1, 5, 6; 2; 3, 4); 355 is appended when the clip is not fetched.
    {352, "Sound clip"},
    {353, "Voice clip"},
    {354, "Video clip"},
    {355, " (not fetched: empty or too large)"},
    // "/macro" without prefix: confirmation.
    {361, "Play this macro?"},
    // Saving a window's text: the file exists.
    {373, "The file already exists. Append to it? (No replaces it)"},
    // Mail dialog: check button while checking.
    {376, "Checking..."},
    // Mail dialog: check button when idle.
    {377, "Check now"},
    // Media clip fetcher balloon; %u clip type.
    {380, "Receiving a media clip (type %u)..."},
    // ICQ multi-line message prompt.
    {381, "Message to send:"},
    // Script package: bad magic.
    {383, "This file is not a script package."},
    // Script package: version too new.
    {384, "This script package needs a newer version of VantaIRC."},
    // Script package: bad length.
    {385, "This script package is damaged."},
    // Script package install confirmation; %s file name.
    {389, "Install the script package %s ?"},
    // Protected script: password prompt.
    {395, "This script is protected. Password:"},

    // Status presets: the names of the five statuses.
    {671, "Available"},
    {672, "Busy"},
    {673, "Away"},
    {674, "Back soon"},
    {675, "On the phone"},

    // Conference component started (tray balloon).
    {810, "Conference started"},
    // Conference component could not be started.
    {811, "Cannot start the conference program"},
    // Profile rights: the profile lacks a right (warning box).
    {830, "Your profile does not have the right to do this."},
    // Mail check: appended to the report when mail is waiting (yes/no box).
    {880, "\r\nStart your mail program?"},
    // Macro file confirmation; %s file name.
    {930, "Run the macro file %s ?"},
    // Skin file confirmation; %s file name.
    {931, "Apply the skin %s ?"},
    // Proxy cannot be resolved or refuses the connection; %s proxy host, %u port.
    {960, "Cannot connect to the proxy %s port %u"},

    // Language halves of the appearance templates, key 100 + (number - 1060). Empty where the
    // skin half already holds the whole line.
    {1060, ""},
    {1061, ""},
    {1062, "$nick ($ident@$IP) has joined $channel"},
    {1063, "$nick sets mode $message"},
    {1064, "$nick has left $channel $message"},
    {1065, "$nick changes the topic of $channel to: $message"},
    {1066, "$victim was kicked from $channel by $nick ($kickmsg)"},
    {1067, "$nick has quit IRC ($message)"},
    {1068, ""},
    {1069, "$nick is now known as $message"},
    {1070, "$nick invites you to $message"},
    {1071, "$nick sets a property of $channel: $message"},
    {1072, "Silence: $message"},
    {1073, ""},
    {1074, "$channel was killed by $nick ($message)"},
    {1075, "$nick whispers in $channel: $message"},
    {1076, "$nick knocks on $channel ($knockmsg)"},
    {1077, ""},
    {1078, ""},
    {1079, ""},
    {1080, ""},
    {1081, ""},
    {1082, ""},
    {1083, ""},
    {1084, ""},

    // DCC offer matching a blocked file mask; %s mask (the caller appends the editor hint).
    {1103, "Blocked file offer: the name matches %s"},

    // Command interpreter: a protocol line that does not fit what a server accepts; %u its length
    // in bytes, %u the limit (CR LF not counted).
    {1150, "The line is too long for the server (%u bytes, at most %u): nothing was sent"},
    // "/server": a port that is not a number from 1 to 65535; %s the port as typed.
    {1151, "Bad port \"%s\": a port is a number from 1 to 65535"},
    // Input lock: the prompt for the password that unlocks the input.
    {1152, "The input is locked. Password:"},
    // A command typed without the arguments it needs; %s the command's usage text.
    {1153, "Usage: %s"},
    // The outgoing queue of a server is full (flood control): %u bytes of what was typed were not sent.
    {1154, "The send queue is full: %u bytes were not sent"},
};

}  // namespace vanta::langen
