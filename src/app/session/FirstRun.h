#pragma once
// The questions of a first run, the same for every front end and asked through its
// prompts: the user name once, and how to reach the other users while "NetworkingType"
// is not chosen.
#include <functional>
#include <string>

class COptions;
class IPrompt;

// The one-line input box of the first run asks for the name under this title and prompt.
inline constexpr char kUserNameTitle[] = "Zib Tam User Name";
inline constexpr char kUserNamePrompt[] = "Please enter your name"; // the box appends ":"
inline constexpr int kUserNameLimit = 25;

inline constexpr char kNetworkingQuestion[] =
    "How shall Zib Tam reach the other users?\n"
    "1  peer-to-peer: no server, the computers of this network talk directly\n"
    "2  client/server: connect to a Zib Tam server\n"
    "3  client/server, with this computer as the server\n"
    "Type 1, 2 or 3";

// Asks for the user name when none is stored; the login name is offered, and what the box
// holds when it closes is kept, whether it closed with OK or Cancel.
void AskUserName(COptions& options, IPrompt& prompt);

// The networking question as text, asked until answered; false when the prompt gave up
// (the input ended) before an answer.
bool AskNetworkingType(COptions& options, IPrompt& prompt);

// Both questions in their order. `chooseNetworking` is the front end's way of choosing the
// networking (the options page of the chat window); false when it was cancelled.
bool AskFirstRunQuestions(COptions& options, IPrompt& prompt,
                          const std::function<bool()>& chooseNetworking);
