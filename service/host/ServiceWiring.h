#pragma once
// Where the host meets the protocol half: the IEvent router over the connection table, and the
// services the picture upload uses. Called once by the server's constructor.
#include <memory>

#include "service/host/HttpAnswer.h"
#include "service/events/IEvent.h"
#include "service/protocol/SessionTable.h"

std::unique_ptr<IEvent> MakeServiceEvents(SessionTable& sessions, IConnectionWriter& writer);
HttpServices MakeHttpServices();
