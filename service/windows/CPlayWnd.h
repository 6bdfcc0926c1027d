#pragma once
// Placeholder for the window group: the window layer replaces this with the real class.
class CPlayWnd {
 public:
  virtual ~CPlayWnd() = default;
};
