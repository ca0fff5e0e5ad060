/* For the start-up bench only: an empty GTK 3 window of the dialog's size whose client area is
   painted in the gradient's first colour, so that the bench sees it painted as it sees ours. */
#include <gtk/gtk.h>

static gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    (void)widget;
    (void)data;
    cairo_set_source_rgb(cr, 6 / 255.0, 190 / 255.0, 225 / 255.0);
    cairo_paint(cr);
    return TRUE;
}

static gboolean key(GtkWidget* widget, GdkEventKey* event, gpointer data) {
    (void)widget;
    (void)data;
    if (event->keyval == GDK_KEY_Escape) {
        gtk_main_quit();
    }
    return FALSE;
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "GTK empty window");
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    GtkWidget* area = gtk_drawing_area_new();
    gtk_container_add(GTK_CONTAINER(window), area);
    g_signal_connect(area, "draw", G_CALLBACK(draw), NULL);
    g_signal_connect(window, "key-press-event", G_CALLBACK(key), NULL);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
