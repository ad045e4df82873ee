#include "app/session/ChatSession.h"

#include "app/session/MessageLogFile.h"

CChatSession::CChatSession(ChatSessionContext context)
    : m_options(context.Options),
      m_ownLog(context.Log ? nullptr : std::make_unique<CMessageLogFile>(context.Options)),
      m_turing(context.Options, context.Clock, context.Random),
      m_later(context.Options, context.Clock)
{
    IMessageLog& log = context.Log ? *context.Log : *m_ownLog;
    IUsersList& users = context.UsersList ? *context.UsersList : m_users;
    m_controller = std::make_unique<CChatController>(
        ChatControllerContext{context.Options, context.Prompt, context.Clock, context.Window, users,
                              context.Timers, log, m_turing, m_later, context.Factory});
}

CChatSession::~CChatSession()
{
    Stop();
    m_controller.reset();
}

void CChatSession::Start()
{
    m_controller->Initialise();
}

void CChatSession::Stop()
{
    m_controller->Shutdown();
}
