#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Quorlin");
  QApplication::setApplicationName("Quorlin");
  QMainWindow window;
  window.setWindowTitle("Quorlin: Brimwell Tool");
  window.resize(1280, 760);
  window.show();
  return QApplication::exec();
}
