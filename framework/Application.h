#pragma once
// The application object: title, the forms in creation order, the message loop, termination
// and the standard exception box.
#include <exception>
#include <string>

#include "framework/Component.h"
#include "framework/Form.h"

namespace zumelko {

class Application final : public Component {
public:
    Application();
    ~Application() override;

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }

    // Creates a form owned by the application; the first one becomes the main form.
    template <typename T>
    void CreateForm(T*& reference) {
        T& form = Create<T>();
        reference = &form;
        if (mainForm_ == nullptr) mainForm_ = &form;
    }
    Form* MainForm() const { return mainForm_; }

    // Runs the message loop until Terminate.
    void Run();
    void Terminate();
    bool Terminated() const;
    void ProcessMessages();
    // Destroys the forms, last created first.
    void DestroyForms();

    // The standard error box for an exception that escaped a handler.
    void HandleException(const Component* sender, const std::exception& error);
    void ShowException(const std::exception& error);

private:
    std::string title_;
    Form* mainForm_ = nullptr;
};

// The process's application object; exists while an Application is alive.
Application& App();
// The same, or null while there is none (code that also runs without one, such as tests).
Application* CurrentApplication();

}  // namespace zumelko
