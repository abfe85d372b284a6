#include "framework/Application.h"

#include <cstdio>

#include "platform/Desktop.h"

namespace zumelko {

namespace {
Application* g_application = nullptr;
}

Application& App() {
    if (g_application == nullptr) {
        std::fputs("zumelko: no application object\n", stderr);
        std::abort();
    }
    return *g_application;
}

Application* CurrentApplication() { return g_application; }

Application::Application() : Component(nullptr) {
    g_application = this;
    platform::Current().loop().SetExceptionHandler([this](const std::exception& e) { ShowException(e); });
}

Application::~Application() {
    DestroyForms();
    platform::Current().loop().SetExceptionHandler(nullptr);
    if (g_application == this) g_application = nullptr;
}

void Application::Run() {
    auto& loop = platform::Current().loop();
    loop.RunUntil([] { return false; });
}

void Application::Terminate() { platform::Current().loop().PostQuit(); }

bool Application::Terminated() const { return platform::Current().loop().QuitRequested(); }

void Application::ProcessMessages() { platform::Current().loop().ProcessMessages(); }

void Application::DestroyForms() {
    while (ComponentCount() > 0) DestroyComponent(ComponentAt(ComponentCount() - 1));
    mainForm_ = nullptr;
}

void Application::HandleException(const Component* /*sender*/, const std::exception& error) {
    ShowException(error);
}

void Application::ShowException(const std::exception& error) {
    platform::Current().ui().ShowException(title_, error.what());
}

}  // namespace zumelko
