#include "engine/engine.h"

#include <QCoreApplication>

namespace engine {

void Abandon(std::unique_ptr<Engine> engine) {
  if (!engine) return;
  engine->LetGo();
  // Calls already posted to it must not run on a deleted object.
  QCoreApplication::removePostedEvents(engine.get());
}

}  // namespace engine
